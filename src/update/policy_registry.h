// Reads the machine's update policies from the registry, and the local clock
// that the quiet hours are kept in.
#pragma once

#include "update/update_policy.h"

// HKLM\SOFTWARE\Policies\Orvanta\Velmar\Update in the 64-bit view, never the
// user's hive: any program of the user could write there. A missing key means
// no policies. The log entries are left for the caller to write.
UpdatePolicy ReadMachinePolicies();

// The minute of the day now, local time: 0..1439.
int LocalMinuteOfDay();
