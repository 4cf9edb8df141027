#include "update/update_driver.h"

#include "build_settings.h"
#include "log/update_log.h"
#include "update/check_schedule.h"
#include "update/host_messages.h"
#include "update/installer_launch.h"
#include "update/manifest.h"
#include "update/package_download.h"
#include "update/update_decision.h"
#include "update/update_result.h"

std::int32_t g_nUpdateResult = kUpdateSucceeded;

namespace {

constexpr wchar_t kBaseUrl[] = VELMAR_UPDATE_BASE_URL;

// The manifest, the plan, the package, the installer: the result of a check that is due.
std::int32_t CheckAndInstall(const UpdateOptions& options, const UpdateKeys& keys)
{
    std::wstring manifestPath;
    switch (FetchManifest(std::wstring(kBaseUrl) + L"version.ini", keys, manifestPath)) {
    case ManifestFetch::Fetched:
        break;
    case ManifestFetch::Unavailable:
        return kUpdateSucceeded;  // as if the server were away: nothing failed that was to be installed
    case ManifestFetch::Rejected:
        return kUpdateFailed;
    }
    const ManifestValues manifest = ReadManifestValues(manifestPath);
    g_updateLog.Stream() << L" NewVer:" << manifest.version << L" MinVer:" << manifest.miniver;
    if (keys.Any() && !AcceptSignedManifest(manifestPath)) {
        return kUpdateFailed;  // stale, replayed or malformed: someone answers who must not
    }

    const UpdatePlan plan = DecideUpdate(options.installedVersion, manifest, kBaseUrl);
    if (plan.kind == PackageKind::None) {
        return kUpdateSucceeded;
    }
    if (plan.kind == PackageKind::Patch) {
        NotifyUpdateAvailable(plan.version.c_str());  // never for the full package
    }
    // With keys, only the exact package the signed manifest binds is fetched and run.
    std::optional<PackageBinding> binding;
    if (keys.Any()) {
        binding = ReadPackageBinding(manifestPath, plan.manifestKey);
        if (!binding) {
            g_updateLog.Stream() << L" PackageRejected:" << plan.url << L" the manifest binds no [sha256] and [size] for "
                                 << plan.manifestKey;
            return kUpdateFailed;
        }
    }
    std::wstring package;
    if (!DownloadPackage(plan.url, binding, package)) {
        return kUpdateFailed;
    }
    NotifyInstalling();
    const bool installed = plan.kind == PackageKind::Full ? RunFullInstaller(package, options.installPath)
                                                          : RunPatchArchiveFile(package);
    return installed ? kUpdateSucceeded : kUpdateFailed;
}

}  // namespace

int RunUpdateCycle(const UpdateOptions& options, const UpdateKeys& keys)
{
    g_hHostWnd = options.hostWindow;
    g_nHostParam = options.hostParam;
    std::int32_t result = kUpdateFailed;
    try {
        NotifyCheckingForUpdate();
        result = kUpdateSucceeded;
        if (IsUpdateCheckDue() != 0) {
            result = CheckAndInstall(options, keys);
            SaveLastCheckTime();
        }
    } catch (...) {
        // Whatever went wrong, the host still learns that the cycle has ended.
        result = kUpdateFailed;
    }
    g_nUpdateResult = result;
    try {
        NotifyComplete(g_nUpdateResult);
    } catch (...) {
    }
    return 0;
}
