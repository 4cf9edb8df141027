#include "base/utf8_text.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr unsigned long kReplacement = 0xFFFD;

bool IsHighSurrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendCodePoint(unsigned long codePoint, std::string& out)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

}  // namespace

void Utf8Encoder::Append(const wchar_t* text, std::size_t length, std::string& out)
{
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned long unit = static_cast<unsigned long>(text[i]) & 0xFFFF;
        if (pendingHigh_ != 0) {
            const unsigned long high = pendingHigh_;
            pendingHigh_ = 0;
            if (IsLowSurrogate(unit)) {
                AppendCodePoint(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
                continue;
            }
            AppendCodePoint(kReplacement, out);
        }
        if (IsHighSurrogate(unit)) {
            pendingHigh_ = unit;
        } else {
            AppendCodePoint(IsLowSurrogate(unit) ? kReplacement : unit, out);
        }
    }
}

void Utf8Encoder::Finish(std::string& out)
{
    if (pendingHigh_ != 0) {
        AppendCodePoint(kReplacement, out);
        pendingHigh_ = 0;
    }
}

std::string Utf8FromWide(const std::wstring& text)
{
    std::string bytes;
    Utf8Encoder encoder;
    encoder.Append(text.c_str(), std::wcslen(text.c_str()), bytes);
    encoder.Finish(bytes);
    return bytes;
}

std::wstring WideFromUtf8(const std::string& bytes)
{
    if (bytes.empty()) {
        return std::wstring();
    }
    // Length -1: the count includes the terminator, so the output always holds a zero.
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, &text[0], size);
    text.resize(text.find(L'\0'));
    return text;
}
