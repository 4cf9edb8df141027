#include "update/manifest/manifest_text.h"

#include "base/utf8_text.h"

#include <windows.h>

#include <algorithm>

namespace {

wchar_t FoldCase(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameName(const std::wstring& left, const std::wstring& right)
{
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](wchar_t a, wchar_t b) { return FoldCase(a) == FoldCase(b); });
}

// Blanks as the profile reader drops them, 0x1A (an old end-of-file mark) included.
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' || c == 0x1A; }

std::wstring Trimmed(const std::wstring& text, std::size_t begin, std::size_t end)
{
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::wstring DecodeText(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return text;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        return WideFromUtf8(bytes.substr(3));
    }
    // Otherwise the system's ANSI code page, as the profile reader takes a file without a mark.
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF) {
        return std::wstring();
    }
    const int size = static_cast<int>(bytes.size());
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, &text[0], chars);
    }
    return text;
}

// A value in one pair of matching quotes loses them.
std::wstring Unquoted(const std::wstring& value)
{
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

bool NoCaseLess::operator()(const std::wstring& left, const std::wstring& right) const
{
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](wchar_t a, wchar_t b) { return FoldCase(a) < FoldCase(b); });
}

ProfileText::ProfileText(const std::string& bytes)
{
    const std::wstring text = DecodeText(bytes);
    // Lines end at LF; only a text without any LF ends them at CR.
    const wchar_t lineEnd = text.find(L'\n') != std::wstring::npos ? L'\n' : L'\r';
    Section* current = nullptr;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(lineEnd, start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = Trimmed(text, start, end);
        start = end + 1;
        if (line.empty() || line[0] == L';') {
            continue;
        }
        const std::size_t close = line.rfind(L']');
        if (line[0] == L'[' && close != std::wstring::npos && close > 0) {
            sections_.push_back(Section{Trimmed(line, 1, close), {}});
            current = &sections_.back();
            continue;
        }
        if (current == nullptr) {
            continue;  // before any section: nothing looks there
        }
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            current->entries.emplace_back(line, std::nullopt);
        } else {
            current->entries.emplace_back(Trimmed(line, 0, equals), Trimmed(line, equals + 1, line.size()));
        }
    }
}

const ProfileText::Section* ProfileText::Find(const std::wstring& section) const
{
    const std::wstring name = Trimmed(section, 0, section.size());
    for (const Section& candidate : sections_) {
        if (SameName(candidate.name, name)) {
            return &candidate;
        }
    }
    return nullptr;
}

std::optional<std::wstring> ProfileText::Value(const std::wstring& section, const std::wstring& key) const
{
    if (const Section* found = Find(section)) {
        const std::wstring name = Trimmed(key, 0, key.size());
        for (const auto& entry : found->entries) {
            if (SameName(entry.first, name)) {
                return entry.second ? std::optional<std::wstring>(Unquoted(*entry.second)) : std::nullopt;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::wstring, std::wstring>> ProfileText::Entries(const std::wstring& section) const
{
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    if (const Section* found = Find(section)) {
        for (const auto& entry : found->entries) {
            if (entry.second) {
                entries.emplace_back(entry.first, Unquoted(*entry.second));
            }
        }
    }
    return entries;
}
