// Reads the machine's update policies from the registry.
#pragma once

#include "update/policy/update_policy.h"

// HKLM\SOFTWARE\Policies\Orvanta\Velmar\Update in the 64-bit view, never the
// user's hive: any program of the user could write there. A missing key means
// no policies. The log entries are left for the caller to write.
UpdatePolicy ReadMachinePolicies();
