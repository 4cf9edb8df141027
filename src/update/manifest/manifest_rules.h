// The rules of a signed manifest, on plain values: its serial and expiry, and
// the hash and size that bind each package.
#pragma once

#include "base/sha256.h"

#include <cstdint>
#include <optional>
#include <string>

// A decimal number from 1 to 2^63 - 1.
std::optional<std::uint64_t> ParseManifestSerial(const std::wstring& text);
// Exactly "YYYY-MM-DDTHH:MM:SSZ", a real UTC date and time; Unix seconds.
std::optional<std::int64_t> ParseManifestTime(const std::wstring& text);
// Exactly 64 hex digits, in either case.
std::optional<Sha256Digest> ParseSha256Hex(const std::wstring& text);
// A decimal number of bytes, at least 1.
std::optional<std::uint64_t> ParsePackageSize(const std::wstring& text);

enum class ManifestVerdict {
    Accepted,
    BadSerial,    // "serial" missing or not a number from 1 to 2^63 - 1
    BadExpiry,    // "expires" missing or not of the form YYYY-MM-DDTHH:MM:SSZ
    Expired,      // "expires" is not in the future
    SerialLower,  // lower than the highest serial accepted before (equal is accepted)
};

// Checks in this order: the serial, the expiry (each nullopt when missing or
// malformed), the time, the serial against the highest accepted before (none:
// nullopt). nowSeconds is Unix time.
ManifestVerdict JudgeManifest(std::optional<std::uint64_t> serial, std::optional<std::int64_t> expiry,
                              std::int64_t nowSeconds, std::optional<std::uint64_t> acceptedSerial);
