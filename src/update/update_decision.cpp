#include "update/update_decision.h"

#include "net/transfer_rules.h"
#include "update/manifest/version_rules.h"

UpdatePlan DecideUpdate(const std::wstring& installedVersion, const ManifestValues& manifest,
                        const std::wstring& baseUrl)
{
    UpdatePlan plan;
    // The installed version is not validated, but one without any number
    // (only full stops) has nothing to compare: treat it like an empty one.
    VersionNumbers installedNumbers;
    if (installedVersion.empty() || !SplitVersion(installedVersion.c_str(), L'.', installedNumbers)) {
        return plan;
    }
    if (!manifest.version.value || !manifest.miniver.value) {
        return plan;
    }
    if (IsNewerVersion(*manifest.miniver.value, installedNumbers)) {
        // Too old for a patch: the full package.
        plan.kind = PackageKind::Full;
        plan.url = manifest.newest;
        plan.manifestKey = L"newest";
        return plan;
    }
    if (IsNewerVersion(*manifest.version.value, installedNumbers)) {
        // Both versions go in as given: the server keeps one archive per pair of texts.
        plan.kind = PackageKind::Patch;
        plan.version = manifest.version.text;
        plan.manifestKey = installedVersion + L"-" + manifest.version.text + L"/velmar.diff";
        const std::wstring url = baseUrl + plan.manifestKey;
        if (url.size() <= kMaxUrlChars) {
            plan.url = url;  // a URL that does not fit is never cut and used
        }
    }
    return plan;
}
