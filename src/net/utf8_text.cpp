#include "net/utf8_text.h"

#include <windows.h>

std::string Utf8FromWide(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    // Length -1: the count includes the terminator, so the output always holds a zero.
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(bytes.find('\0'));
    return bytes;
}

std::wstring WideFromUtf8(const std::string& bytes)
{
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, &text[0], size);
    text.resize(text.find(L'\0'));
    return text;
}
