#include "crashreport/crash_policy.h"

#include "base/policy_values.h"

namespace {

// The values the crash side reads; the ADMX test compares the templates against this table.
const struct {
    const wchar_t* name;
    DWORD type;
} kCrashPolicyValues[] = {
    {L"Enabled", REG_DWORD},
};
constexpr wchar_t kRoom[] = L"CrashReporting";

}  // namespace

CrashReportPolicy InterpretCrashReportPolicy(const CrashPolicyLookup& lookup)
{
    CrashReportPolicy policy;
    const PolicyReading<std::uint32_t> enabled = PolicyDwordInRange(lookup(kCrashPolicyValues[0].name), 0, 1);
    if (enabled.taken) {
        policy.reportsOff = *enabled.taken == 0;
        policy.logEntries.push_back(policy.reportsOff ? L" Policy:crash reports are off" : L" Policy:crash reports are on");
    } else if (enabled.present) {
        // Reports stay on, as the browsers' own crash policies do with a value they cannot use.
        policy.logEntries.push_back(
            PolicyIgnoredText(std::wstring(kRoom) + L"\\" + kCrashPolicyValues[0].name, enabled.whyRefused));
    }
    return policy;
}

CrashReportPolicy ReadCrashReportPolicy()
{
    RegistryKey key;
    CrashReportPolicy none;
    if (!OpenPolicyKey(kRoom, key, none.logEntries)) {
        return none;
    }
    return InterpretCrashReportPolicy([&key](const wchar_t* name) { return key.Read(name, kMaxPolicyDataBytes); });
}
