#include "base/switches.h"

#include <cwchar>
#include <cwctype>
#include <limits>

namespace {

void CopyValue(const wchar_t* begin, std::size_t length, wchar_t* buffer, int size)
{
    if (size <= 1) {
        return;
    }
    const std::size_t room = static_cast<std::size_t>(size - 1);
    const std::size_t count = length < room ? length : room;
    for (std::size_t i = 0; i < count; ++i) {
        buffer[i] = begin[i];
    }
}

}  // namespace

int GetSwitchValue(const wchar_t* commandLine, const wchar_t* switchText, wchar_t* buffer, int size)
{
    if (commandLine == nullptr || switchText == nullptr || *switchText == L'\0') {
        return 0;
    }
    const wchar_t* found = std::wcsstr(commandLine, switchText);
    if (found == nullptr) {
        return 0;
    }
    const wchar_t* value = found + std::wcslen(switchText);
    if (*value == L'"') {
        ++value;
        if (const wchar_t* closing = std::wcschr(value, L'"')) {
            CopyValue(value, static_cast<std::size_t>(closing - value), buffer, size);
            return 1;
        }
    }
    const wchar_t* end = std::wcschr(value, L' ');
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - value) : std::wcslen(value);
    CopyValue(value, length, buffer, size);
    return 1;
}

std::int32_t ParseDecimal32(const wchar_t* text)
{
    // wcstoll rather than wcstol: long is 64 bits on some platforms, so clamp ourselves.
    const long long parsed = std::wcstoll(text, nullptr, 10);
    if (parsed > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (parsed < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(parsed);
}

std::int32_t GetSwitchNumber(const wchar_t* commandLine, const wchar_t* switchText)
{
    wchar_t value[kSwitchBufferChars] = {};
    if (GetSwitchValue(commandLine, switchText, value, kSwitchDeclaredSize) == 0) {
        return 0;
    }
    return ParseDecimal32(value);
}
