#include "base/decimal_text.h"

#include <cwchar>
#include <limits>

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

std::optional<std::uint64_t> ParsePlainDecimal(const std::wstring& text, std::uint64_t largest)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(c - L'0');
        if (value > (largest - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

int ParseFixedDigits(const std::wstring& text, std::size_t at, std::size_t count)
{
    if (at > text.size() || count > text.size() - at || count > 9) {
        return -1;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return -1;
        }
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}
