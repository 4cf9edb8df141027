// What one update cycle installs: nothing, a differential patch or the full
// package. Plain values in, a plan out; nothing is sent or logged.
#pragma once

#include "update/manifest/manifest_value.h"
#include "update/package/package_kind.h"

#include <string>

struct UpdatePlan {
    PackageKind kind = PackageKind::None;
    std::wstring url;          // the package; empty when it would not fit a URL
    std::wstring version;      // the manifest's "version", for the host's "OnUpdateAvailable"
    std::wstring manifestKey;  // the package's name in the manifest: "newest" or "<installed>-<version>/velmar.diff"
};

// installedVersion is "/v:" (empty when absent); baseUrl ends in "update/".
// Older than "miniver": the full package named by "newest". Otherwise older
// than "version": the patch <base><installed>-<version>/velmar.diff, both
// versions as written. Otherwise, or when a manifest version is not one, nothing.
UpdatePlan DecideUpdate(const std::wstring& installedVersion, const ManifestValues& manifest,
                        const std::wstring& baseUrl);
