// Update mode: one whole update cycle.
#pragma once

#include "update/install/installer_publisher.h"
#include "update/manifest/update_keys.h"
#include "update/update_options.h"
#include "update/policy/update_policy.h"

// Runs one cycle and reports it to the host window; always returns 0. Files
// the cycle acts on must be signed with one of the keys, when there are any,
// and a full installer by a pinned publisher, when there are pins; the
// machine's policies steer it. Nothing escapes: a failure that throws still
// ends with "OnComplete;3;".
int RunUpdateCycle(const UpdateOptions& options, const UpdateKeys& keys, const PublisherPins& pins,
                   const UpdatePolicy& policy = UpdatePolicy());
