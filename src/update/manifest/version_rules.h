// Version strings: full-stop separated decimal numbers, compared over their first four.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using VersionNumbers = std::vector<std::int32_t>;

// Appends one number per non-empty token (parsed like wcstol, saturating at 32 bits);
// true when the list is non-empty afterwards.
bool SplitVersion(const wchar_t* text, wchar_t separator, VersionNumbers& numbers);
// Exactly four numbers.
bool IsValidVersion(const wchar_t* text);
// First four numbers of a lexicographically greater than those of b; a number
// missing from a list counts as 0.
bool IsNewerVersion(const VersionNumbers& a, const VersionNumbers& b);
// The numbers SplitVersion finds, in decimal without leading zeros, joined by
// full stops: "1.0.0.09" and "1.0.0.9." both give "1.0.0.9".
std::wstring CanonicalVersion(const wchar_t* text);
// 1 when a is newer than b, 0 when equal or older, -1 when a holds no number.
int CompareVersion(const wchar_t* a, const wchar_t* b);

enum class PrefixMatch { Inside, Outside, Malformed };
// prefix: one to four decimal numbers (each at most 2147483647) separated by
// full stops, an optional trailing full stop; anything else is Malformed.
// version: a manifest version, split with SplitVersion. Inside when its leading
// numbers equal the prefix's numbers.
PrefixMatch MatchVersionPrefix(const std::wstring& prefix, const std::wstring& version);
