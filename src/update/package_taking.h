// The package a plan chose, from its order to its installer's end, and the
// full package in place of a patch that failed in a way it can mend.
#pragma once

#include "update/install/installer_launch.h"
#include "update/manifest/manifest_value.h"
#include "update/manifest/update_keys.h"
#include "update/package/package_download.h"
#include "update/policy/update_policy.h"
#include "update/update_decision.h"
#include "update/update_options.h"

#include <optional>
#include <string>

// How fetching and installing one package ended.
struct PackageOutcome {
    InstallerResult result = InstallerResult::NotStarted;
    bool fullPackageCanMend = false;  // a patch that failed so that the full package can mend it
    bool quietHoursBegan = false;     // not installed: the quiet hours began, the package is kept
    std::wstring why;                 // for the log, when it failed
};

// The planned package, with keys only the exact one the signed manifest binds;
// its installer runs unless the quiet hours have begun meanwhile.
PackageOutcome TakePlannedPackage(const UpdatePlan& plan, const Manifest& manifest, const UpdateKeys& keys,
                                  const PublisherPins& pins, const UpdateOptions& options, const UpdatePolicy& policy);

// The full package's order, when it can take a failed patch's place: newest
// set and usable (with keys, bound) and an install folder to give its installer.
std::optional<PackageOrder> FallbackOrder(const Manifest& manifest, const UpdateKeys& keys,
                                          const UpdateOptions& options);

// Fetches one ordered package and runs its installer unless the quiet hours have begun meanwhile;
// a full package, only when its publisher passes (MayRunFullInstaller).
PackageOutcome FetchAndInstall(const PackageOrder& order, const PublisherPins& pins, const UpdateOptions& options,
                               const UpdatePolicy& policy);
