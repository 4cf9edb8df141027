// What every machine policy key of this program shares: where it is opened,
// and how a value that does not fit is ignored and named in the log. Each
// mode interprets its own values (update/policy, crashreport).
#pragma once

#include "base/registry.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Policy data larger than this is not read: it counts as out of range.
constexpr std::size_t kMaxPolicyDataBytes = 8192;

// HKLM\SOFTWARE\Policies\Orvanta\Velmar\<room> in the 64-bit view, never the
// user's hive: any program of the user could write there. False when the key
// is absent, or present but cannot be opened; the latter leaves an entry in
// logEntries, and no policy of that room applies.
bool OpenPolicyKey(const wchar_t* room, RegistryKey& key, std::vector<std::wstring>& logEntries);

// A value present: taken, or refused with why (for the log).
template <typename T>
struct PolicyReading {
    bool present = false;
    std::optional<T> taken;
    std::wstring whyRefused;  // present and not taken
};

// Why a present value is not of the expected type, e.g. "REG_SZ, expected
// REG_DWORD", or "out of range" (over 8 KiB, a number of the wrong size); nullopt when it fits.
std::optional<std::wstring> PolicyMisfit(const RegistryValue& value, DWORD expected);

// A REG_DWORD from low to high.
PolicyReading<std::uint32_t> PolicyDwordInRange(const std::optional<RegistryValue>& value, std::uint32_t low,
                                                std::uint32_t high);

// " PolicyIgnored:<name> (<why>)".
std::wstring PolicyIgnoredText(const std::wstring& name, const std::wstring& why);
