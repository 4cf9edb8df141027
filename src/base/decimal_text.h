// Decimal numbers in text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Parses like wcstol with base 10 (leading blanks and a sign allowed, stops at
// the first non-digit, no digits gives 0), then saturates to 32 bits.
std::int32_t ParseDecimal32(const wchar_t* text);

// Only ASCII digits, at least one, any number of leading zeros; nullopt for
// anything else or a value above `largest`.
std::optional<std::uint64_t> ParsePlainDecimal(const std::wstring& text, std::uint64_t largest = UINT64_MAX);

// The `count` digits at text[at] as a number; -1 when the text is shorter or
// one of them is not an ASCII digit. For fixed-width fields such as dates.
int ParseFixedDigits(const std::wstring& text, std::size_t at, std::size_t count);
