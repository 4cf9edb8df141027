#include "update/package_taking.h"

#include "base/file_io.h"
#include "log/update_log.h"
#include "update/host_messages.h"
#include "update/package/package_location.h"
#include "update/updater_registry.h"

namespace {

// Why a package cannot be asked for, checked before any request: with keys the
// manifest must bind it, and its URL must name a plain file over http(s).
enum class OrderProblem { None, NotBound, UrlNotUsable };

OrderProblem OrderPackage(PackageKind kind, const std::wstring& url, const std::wstring& manifestKey,
                          const Manifest& manifest, const UpdateKeys& keys, PackageOrder& order)
{
    order.kind = kind;
    order.url = url;
    if (keys.Any()) {
        order.binding = manifest.BindingOf(manifestKey);
        if (!order.binding) {
            return OrderProblem::NotBound;
        }
    }
    const std::optional<std::wstring> fileName = PackageFileName(url);
    if (!fileName) {
        return OrderProblem::UrlNotUsable;
    }
    order.fileName = *fileName;
    return OrderProblem::None;
}

InstallerPlaces Installers()
{
    return InstallerPlaces{g_updateLog.ModuleDirectory() + L"\\setup.exe", g_updateLog.SetupLogPath(),
                           g_updateLog.InstallLogPath()};
}

}  // namespace

PackageOutcome FetchAndInstall(const PackageOrder& order, const PublisherPins& pins, const UpdateOptions& options,
                               const UpdatePolicy& policy)
{
    const bool patch = order.kind == PackageKind::Patch;
    PackageOutcome outcome;
    PackageFailure failure;
    std::optional<DownloadedPackage> package = DownloadPackage(order, LeftFolders(), policy.quietWindow, failure);
    if (!package) {
        outcome.why = failure.why;
        outcome.fullPackageCanMend = patch && failure.fullPackageCanMend;
        outcome.quietHoursBegan = failure.quietHoursBegan;
        return outcome;
    }
    // Not run, and gone with its folder: nothing of it is kept to be resumed.
    if (!patch && !MayRunFullInstaller(package->File(), package->Path(), order.url, pins)) {
        outcome.why = L"its publisher was refused";
        return outcome;
    }
    NotifyInstalling();
    outcome.result = patch ? RunPatchSetup(package->Path(), Installers(), package->Holds())
                           : RunFullInstaller(package->Path(), options.installPath, Installers(), package->Holds());
    if (outcome.result == InstallerResult::Failed) {
        outcome.why = L"setup.exe failed";  // only a patch is mended this way
        outcome.fullPackageCanMend = patch;
    } else if (outcome.result == InstallerResult::StillRunning) {
        package->LeaveForLater();  // the installer holds both now, and may still read them
    }
    return outcome;
}

PackageOutcome TakePlannedPackage(const UpdatePlan& plan, const Manifest& manifest, const UpdateKeys& keys,
                                  const PublisherPins& pins, const UpdateOptions& options, const UpdatePolicy& policy)
{
    PackageOutcome outcome;
    PackageOrder order;
    switch (OrderPackage(plan.kind, plan.url, plan.manifestKey, manifest, keys, order)) {
    case OrderProblem::None:
        return FetchAndInstall(order, pins, options, policy);
    case OrderProblem::NotBound:
        outcome.why = L"the manifest binds no [sha256] and [size] for " + plan.manifestKey;
        outcome.fullPackageCanMend = plan.kind == PackageKind::Patch;
        g_updateLog.Stream() << L" PackageRejected:" << plan.url << L" " << outcome.why;
        break;
    case OrderProblem::UrlNotUsable:
        outcome.why = L"the package URL is not usable";
        break;
    }
    return outcome;
}

std::optional<PackageOrder> FallbackOrder(const Manifest& manifest, const UpdateKeys& keys,
                                          const UpdateOptions& options)
{
    PackageOrder full;
    if (OrderPackage(PackageKind::Full, manifest.main.newest, L"newest", manifest, keys, full) != OrderProblem::None ||
        !IsExistingFolder(options.installPath)) {
        return std::nullopt;
    }
    return full;
}
