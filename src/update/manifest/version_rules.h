// Versions: full-stop separated decimal numbers, compared over their first four,
// and the prefixes an administrator pins releases to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using VersionNumbers = std::vector<std::int32_t>;

// Appends one number per non-empty token (parsed like wcstol, saturating at 32 bits);
// true when the list is non-empty afterwards.
bool SplitVersion(const wchar_t* text, wchar_t separator, VersionNumbers& numbers);
// The numbers of a version a manifest names; nullopt unless it has exactly four.
std::optional<VersionNumbers> ParseManifestVersion(const std::wstring& text);
// First four numbers of a lexicographically greater than those of b; a number
// missing from a list counts as 0.
bool IsNewerVersion(const VersionNumbers& a, const VersionNumbers& b);
// In decimal without leading zeros, joined by full stops: however "1.0.0.09"
// or "1.0.0.9." was written, its numbers give "1.0.0.9".
std::wstring CanonicalVersion(const VersionNumbers& numbers);

// A version pin: one to four decimal numbers (each at most 2147483647)
// separated by full stops, an optional trailing full stop; nullopt for
// anything else.
std::optional<VersionNumbers> ParseVersionPrefix(const std::wstring& prefix);
// Whether the version's leading numbers are the prefix's.
bool StartsWithPrefix(const VersionNumbers& version, const VersionNumbers& prefix);
