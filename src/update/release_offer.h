// Whether this installation takes a release the manifest offers: the
// administrator's version pin, and the signed rollout's share. Each says why
// not in the log.
#pragma once

#include "update/manifest/manifest_value.h"
#include "update/policy/update_policy.h"

// The manifest's version is one (the decision chose a package).
bool IsWithinPin(const Manifest& manifest, const UpdatePolicy& policy);
bool IsOfferedHere(const Manifest& manifest);
