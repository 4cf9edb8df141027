// The administrator's switch for crash reports, value Enabled (REG_DWORD) under
// HKLM\SOFTWARE\Policies\Orvanta\Velmar\CrashReporting. 0: off; 1 or absent: on;
// a value of another type or out of range is ignored and logged, and reports stay on.
#pragma once

#include "base/registry.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CrashReportPolicy {
    bool reportsOff = false;
    // What was taken or ignored, each entry starting with a space; the caller writes them to the log.
    std::vector<std::wstring> logEntries;
};

// Name -> value as read; nullopt when absent.
using CrashPolicyLookup = std::function<std::optional<RegistryValue>(const wchar_t* name)>;

// Asks `lookup` once for each value of the table.
CrashReportPolicy InterpretCrashReportPolicy(const CrashPolicyLookup& lookup);

// The machine's key in the 64-bit view, once per report; the user's hive is never read.
CrashReportPolicy ReadCrashReportPolicy();
