#include "app/switches.h"

#include "base/decimal_text.h"

#include <cwchar>

bool FindSwitch(const wchar_t* commandLine, const wchar_t* switchText, std::wstring& value)
{
    if (commandLine == nullptr || switchText == nullptr || *switchText == L'\0') {
        return false;
    }
    const wchar_t* found = std::wcsstr(commandLine, switchText);
    if (found == nullptr) {
        return false;
    }
    const wchar_t* begin = found + std::wcslen(switchText);
    if (*begin == L'"') {
        ++begin;  // an opening quote is never part of the value, closed or not
        if (const wchar_t* closing = std::wcschr(begin, L'"')) {
            value.assign(begin, closing);
            return true;
        }
    }
    const wchar_t* end = std::wcschr(begin, L' ');
    value = end != nullptr ? std::wstring(begin, end) : std::wstring(begin);
    return true;
}

int GetSwitchValue(const wchar_t* commandLine, const wchar_t* switchText, wchar_t* buffer, int size)
{
    std::wstring value;
    if (!FindSwitch(commandLine, switchText, value)) {
        return 0;
    }
    if (size > 1) {
        value.copy(buffer, static_cast<std::size_t>(size - 1));
    }
    return 1;
}

std::int32_t GetSwitchNumber(const wchar_t* commandLine, const wchar_t* switchText)
{
    wchar_t value[kSwitchBufferChars] = {};
    if (GetSwitchValue(commandLine, switchText, value, kSwitchDeclaredSize) == 0) {
        return 0;
    }
    return ParseDecimal32(value);
}
