// Whether an update check is due (online, last check over a day ago) and the
// time stamp LastTimeCheck under HKCU\Software\Orvanta Velmar\Velmar.
#pragma once

#include "base/registry.h"

#include <windows.h>

#include <cstdint>
#include <optional>

bool IsInternetConnected();
// The period between checks unless a policy sets another: one day.
constexpr std::int64_t kDefaultCheckPeriodSeconds = 86400;

// Online, and the last check lies more than periodSeconds back (or ahead).
bool IsUpdateCheckDue(std::int64_t periodSeconds = kDefaultCheckPeriodSeconds);
void SaveLastCheckTime();
// Seconds since 1970-01-01 UTC, by the same clock as the schedule.
std::int64_t CurrentUnixTime();

// The machine-facing calls behind the three functions above. Tests put in their
// own to run without network, clock or registry; the program uses the real ones.
struct CheckScheduleCalls {
    // InternetGetConnectedState: FALSE when the query fails; flags set to 0 before.
    BOOL (*getConnectedState)(DWORD* flags);
    // Seconds since 1970-01-01 UTC, 64 bits.
    std::int64_t (*currentTime)();
    // LastTimeCheck as the registry holds it; nullopt when absent.
    std::optional<RegistryValue> (*readLastCheck)();
    // LastTimeCheck written as REG_DWORD, the key created when missing.
    void (*writeLastCheck)(DWORD value);
};

// The calls on the real machine.
CheckScheduleCalls RealCheckScheduleCalls();
// Replaces the calls until the next use; RealCheckScheduleCalls() restores them.
void SetCheckScheduleCalls(const CheckScheduleCalls& calls);
