#include "update/partial_download.h"

#include "base/decimal_text.h"
#include "base/file_io.h"
#include "base/handle_owner.h"
#include "base/utf8_text.h"

#include <windows.h>

#include <cwchar>
#include <vector>

std::string FormatPartialState(const PartialState& state)
{
    return Utf8FromWide(L"url=" + state.url + L"\nvalidator=" + state.validator + L"\nsize=" +
                        std::to_wstring(state.size) + L"\nsha256=" + state.sha256 + L"\n");
}

std::optional<PartialState> ParsePartialState(const std::string& text)
{
    const std::wstring wide = WideFromUtf8(text);
    PartialState state;
    std::wstring* const fields[] = {&state.url, &state.validator, nullptr, &state.sha256};
    const wchar_t* const names[] = {L"url=", L"validator=", L"size=", L"sha256="};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t end = wide.find(L'\n', at);
        const std::size_t nameLength = std::wcslen(names[i]);
        if (end == std::wstring::npos || wide.compare(at, nameLength, names[i]) != 0) {
            return std::nullopt;
        }
        const std::wstring value = wide.substr(at + nameLength, end - at - nameLength);
        if (fields[i] != nullptr) {
            *fields[i] = value;
        } else if (const std::optional<std::uint64_t> size = ParsePlainDecimal(value)) {
            state.size = *size;
        } else {
            return std::nullopt;
        }
        at = end + 1;
    }
    return at == wide.size() && !state.url.empty() && state.size != 0 ? std::optional<PartialState>(state)
                                                                      : std::nullopt;
}

std::wstring ResumeHeaders(std::uint64_t offset, const std::wstring& validator)
{
    std::wstring headers = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    if (!validator.empty()) {
        headers += L"If-Range: " + validator + L"\r\n";
    }
    return headers;
}

std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified)
{
    // A weak ETag (W/"...") may match other bytes, so it cannot vouch for a range.
    if (etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"') {
        return etag;
    }
    return lastModified;
}

bool ContinuesAt(const std::wstring& contentRange, std::uint64_t offset, std::uint64_t size)
{
    const std::wstring prefix = L"bytes ";
    const std::size_t dash = contentRange.find(L'-');
    const std::size_t slash = contentRange.find(L'/');
    if (contentRange.compare(0, prefix.size(), prefix) != 0 || dash == std::wstring::npos ||
        slash == std::wstring::npos || slash < dash) {
        return false;
    }
    const auto first = ParsePlainDecimal(contentRange.substr(prefix.size(), dash - prefix.size()));
    const auto last = ParsePlainDecimal(contentRange.substr(dash + 1, slash - dash - 1));
    const auto total = ParsePlainDecimal(contentRange.substr(slash + 1));
    return first && last && total && *first == offset && *total == size && *last + 1 == size;
}

PartialDownload::PartialDownload()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    const std::wstring folder = std::wstring(temp) + L"VelmarUpdate";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        folder_ = folder;
    }
}

std::optional<PartialState> PartialDownload::Load() const
{
    HandleOwner file(::CreateFileW(StatePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> text(8192);
    DWORD read = 0;
    if (!file.Valid() || !::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
        read == text.size()) {
        return std::nullopt;
    }
    return ParsePartialState(std::string(text.data(), read));
}

bool PartialDownload::Save(const PartialState& state) const
{
    return WriteWholeFile(StatePath(), FormatPartialState(state));
}

std::uint64_t PartialDownload::KeptBytes() const
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(PartPath().c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void PartialDownload::Discard() const
{
    ::DeleteFileW(StatePath().c_str());
    ::DeleteFileW(PartPath().c_str());
}

bool PartialDownload::Finish(const std::wstring& path) const
{
    ::DeleteFileW(StatePath().c_str());
    return ::MoveFileExW(PartPath().c_str(), path.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}
