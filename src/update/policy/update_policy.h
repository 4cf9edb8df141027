// The administrator's steering of updates, from the values under the machine's
// policy key (HKLM\SOFTWARE\Policies\Orvanta\Velmar\Update). Plain values in,
// one UpdatePolicy out with the log entries that say what was taken and what not;
// the registry itself is read in policy_registry.
#pragma once

#include "base/policy_values.h"
#include "base/registry.h"
#include "update/manifest/version_rules.h"
#include "update/policy/quiet_window.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One value as the registry holds it.
using PolicyValue = RegistryValue;
// Name -> value as read; nullopt when absent.
using PolicyLookup = std::function<std::optional<PolicyValue>(const wchar_t* name)>;

// TargetVersionPrefix as the policy holds it. One that is malformed or cannot
// be read stays in force and admits no release: an intended pin must never
// turn into "update to anything".
struct VersionPin {
    enum class State { Numbers, Malformed, TooLarge, WrongType };
    State state = State::Malformed;
    VersionNumbers numbers;  // Numbers: one to four
    std::wstring text;       // Numbers, Malformed: as written
    DWORD type = REG_SZ;     // WrongType: the type it has

    // Whether the version's leading numbers are the pin's.
    bool Admits(const VersionNumbers& version) const;
    // As the log shows it: the text, "(over 8 KiB)" or "(REG_EXPAND_SZ, expected REG_SZ)".
    std::wstring Shown() const;
};

struct UpdatePolicy {
    bool updatesOff = false;
    std::optional<VersionPin> targetVersionPrefix;
    std::optional<std::uint32_t> checkPeriodMinutes;  // after clamping; 0: no automatic check
    std::optional<QuietWindow> quietWindow;
    std::optional<std::wstring> updateUrl;  // a base URL ending in '/'
    // One entry per policy in force or ignored, each starting with a space, in
    // the order UpdateDefault, TargetVersionPrefix, CheckPeriodMinutes,
    // UpdatesSuppressed, UpdateUrl. The caller writes them to the log.
    std::vector<std::wstring> logEntries;
};

// Asks `lookup` once for each value the program reads, in the order above.
UpdatePolicy InterpretPolicies(const PolicyLookup& lookup);

// 0 stays 0 (no automatic check); 1..59 becomes 60; over 43200 (30 days) becomes 43200.
std::uint32_t ClampCheckPeriodMinutes(std::uint32_t minutes);

// Log entries for what the policies decide in a cycle.
std::wstring UpdatesOffLogText();                                                    // " Policy:updates are off"
std::wstring OutsidePrefixLogText(const std::wstring& version, const VersionPin& pin);
std::wstring QuietHoursLogText(const QuietWindow& window);
std::wstring NoAutomaticCheckLogText();
