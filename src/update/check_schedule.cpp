#include "update/check_schedule.h"

#include "log/update_log.h"
#include "net/connectivity.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr wchar_t kLastCheckValue[] = L"LastTimeCheck";

std::int64_t RealCurrentTime() { return static_cast<std::int64_t>(::_time64(nullptr)); }

std::optional<RegistryValue> RealReadLastCheck()
{
    return ReadRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kLastCheckValue, sizeof(DWORD));
}

void RealWriteLastCheck(DWORD value)
{
    // A failed write keeps the older stamp; the schedule then goes by that.
    WriteDword(HKEY_CURRENT_USER, kVelmarUserKey, kLastCheckValue, value);
}

constexpr CheckScheduleCalls kRealCalls = {&QueryInternetConnectedState, &RealCurrentTime, &RealReadLastCheck,
                                           &RealWriteLastCheck};
CheckScheduleCalls g_calls = kRealCalls;  // constant-initialised: usable before main

// Online as InternetGetConnectedState says, with the flags it gave.
bool IsConnected(DWORD& flags)
{
    flags = 0;
    const BOOL queried = g_calls.getConnectedState(&flags);
    return IsOnlineState(queried, flags);
}

}  // namespace

CheckScheduleCalls RealCheckScheduleCalls() { return kRealCalls; }

void SetCheckScheduleCalls(const CheckScheduleCalls& calls) { g_calls = calls; }

bool IsInternetConnected()
{
    DWORD flags = 0;
    return IsConnected(flags);
}

bool IsUpdateCheckDue(std::int64_t periodSeconds)
{
    DWORD flags = 0;
    if (!IsConnected(flags)) {
        wchar_t hex[16] = {};
        std::swprintf(hex, 16, L"%lx", static_cast<unsigned long>(flags));
        g_updateLog.Stream() << L" Offline:flags 0x" << hex;
        return false;
    }
    const std::int64_t now = g_calls.currentTime();

    // Anything but a 4-byte REG_DWORD counts as never checked.
    const std::int64_t last = DwordOf(g_calls.readLastCheck()).value_or(0);  // zero-extended

    const std::int64_t diff = now - last;
    return diff < 0 || diff > periodSeconds;
}

void SaveLastCheckTime()
{
    // The low 32 bits: the stamp holds until the year 2106.
    const std::int64_t now = g_calls.currentTime();
    g_calls.writeLastCheck(static_cast<DWORD>(static_cast<std::uint64_t>(now) & 0xFFFFFFFFu));
}

std::int64_t CurrentUnixTime() { return g_calls.currentTime(); }
