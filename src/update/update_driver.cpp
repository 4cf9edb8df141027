#include "update/update_driver.h"

#include "base/file_io.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "net/transfer_rules.h"
#include "update/check_schedule.h"
#include "update/host_messages.h"
#include "update/install/installer_launch.h"
#include "update/manifest/manifest_fetch.h"
#include "update/manifest/rollout_rules.h"
#include "update/manifest/serial_store.h"
#include "update/package/package_download.h"
#include "update/package/package_location.h"
#include "update/package/run_folder.h"
#include "update/update_decision.h"
#include "update/update_result.h"
#include "update/updater_registry.h"

std::int32_t g_nUpdateResult = kUpdateSucceeded;

namespace {

constexpr wchar_t kBaseUrl[] = VELMAR_UPDATE_BASE_URL;

// How fetching and installing one package ended.
struct PackageOutcome {
    InstallerResult result = InstallerResult::NotStarted;
    bool patchMendable = false;  // a failed patch that the full package can mend
    bool quietHours = false;     // not installed: the quiet hours began, the package is kept
    std::wstring why;            // for the log, when it failed
};

// Whether the release is offered to this installation yet; the log says why not.
bool IsOfferedHere(const Manifest& manifest)
{
    const Rollout& rollout = manifest.rollout;
    const std::wstring& version = manifest.main.version.text;
    switch (rollout.offer) {
    case Rollout::Offer::ToAll:
        return true;
    case Rollout::Offer::ToNone:
        g_updateLog.Stream() << L" RolloutWait:" << version << L" rollout malformed";
        return false;
    case Rollout::Offer::ToShare:
        break;
    }
    const std::optional<std::uint64_t> id = InstallId();
    if (!id) {
        g_updateLog.Stream() << L" RolloutPlace:no InstallId could be stored, this run takes the last place";
    }
    // No id: the last place, offered at 100 only.
    const std::uint32_t place = id ? RolloutPlace(*manifest.main.version.value, *id) : 9999;
    if (IsOffered(place, rollout.hundredths)) {
        return true;
    }
    g_updateLog.Stream() << L" RolloutWait:" << version << L" offered to " << rollout.text
                         << L"% of installations, this one is at " << PlaceAsPercent(place) << L"%";
    return false;
}

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

// Fetches one package and runs its installer unless the quiet hours have begun meanwhile.
PackageOutcome FetchAndInstall(const PackageOrder& order, const UpdateOptions& options, const UpdatePolicy& policy)
{
    PackageOutcome outcome;
    PackageFailure failure;
    std::optional<DownloadedPackage> package = DownloadPackage(order, LeftFolders(), policy.quietWindow, failure);
    if (!package) {
        outcome.why = failure.why;
        outcome.patchMendable = order.kind == PackageKind::Patch && failure.mendable;
        outcome.quietHours = failure.quietHours;
        return outcome;
    }
    NotifyInstalling();
    outcome.result = order.kind == PackageKind::Full
                         ? RunFullInstaller(package->Path(), options.installPath, package->Holds())
                         : RunPatchArchiveFile(package->Path(), package->Holds());
    outcome.patchMendable = order.kind == PackageKind::Patch && outcome.result == InstallerResult::Failed;
    if (outcome.result == InstallerResult::Failed) {
        outcome.why = L"setup.exe failed";  // only a patch is mended this way
    } else if (outcome.result == InstallerResult::StillRunning) {
        package->LeaveForLater();  // the installer holds both now, and may still read them
    }
    return outcome;
}

// The package the plan chose, with keys only the exact one the signed manifest binds.
PackageOutcome TakePlannedPackage(const UpdatePlan& plan, const Manifest& manifest, const UpdateKeys& keys,
                                  const UpdateOptions& options, const UpdatePolicy& policy)
{
    PackageOutcome outcome;
    PackageOrder order;
    switch (OrderPackage(plan.kind, plan.url, plan.manifestKey, manifest, keys, order)) {
    case OrderProblem::None:
        return FetchAndInstall(order, options, policy);
    case OrderProblem::NotBound:
        outcome.why = L"the manifest binds no [sha256] and [size] for " + plan.manifestKey;
        outcome.patchMendable = plan.kind == PackageKind::Patch;
        g_updateLog.Stream() << L" PackageRejected:" << plan.url << L" " << outcome.why;
        return outcome;
    case OrderProblem::UrlNotUsable:
        outcome.why = L"the package URL is not usable";
        break;
    }
    return outcome;
}

// The full package in place of a failed patch, when it can be had: newest set
// and usable (with keys, bound) and an install folder to give its installer.
bool CanFallBack(const Manifest& manifest, const UpdateKeys& keys, const UpdateOptions& options, PackageOrder& full)
{
    return OrderPackage(PackageKind::Full, manifest.main.newest, L"newest", manifest, keys, full) ==
               OrderProblem::None &&
           IsExistingFolder(options.installPath);
}

// Whether the release may be installed under the administrator's version pin.
bool IsWithinPin(const Manifest& manifest, const UpdatePolicy& policy)
{
    if (!policy.targetVersionPrefix || policy.targetVersionPrefix->Admits(*manifest.main.version.value)) {
        return true;
    }
    g_updateLog.Stream() << OutsidePrefixLogText(manifest.main.version.text, *policy.targetVersionPrefix);
    return false;
}

// Whether this cycle checks at all, as the policies and the schedule say; the log says why not.
bool IsCheckDue(const UpdatePolicy& policy)
{
    if (policy.checkPeriodMinutes && *policy.checkPeriodMinutes == 0) {
        g_updateLog.Stream() << NoAutomaticCheckLogText();
        return false;
    }
    if (policy.quietWindow && IsInQuietWindow(*policy.quietWindow, LocalMinuteOfDay())) {
        g_updateLog.Stream() << QuietHoursLogText(*policy.quietWindow);
        return false;
    }
    const std::int64_t period =
        policy.checkPeriodMinutes ? static_cast<std::int64_t>(*policy.checkPeriodMinutes) * 60 : kDefaultCheckPeriodSeconds;
    return IsUpdateCheckDue(period) != 0;
}

// The manifest, the plan, the package, the installer: the result of a check that is due.
// stamp: false when the check is to count as not made (the quiet hours began).
std::int32_t CheckAndInstall(const UpdateOptions& options, const UpdateKeys& keys, const UpdatePolicy& policy,
                             bool& stamp)
{
    // A mirror serves the vendor's signed files: everything is checked as for our own server.
    const std::wstring baseUrl = policy.updateUrl.value_or(kBaseUrl);
    const FetchedManifest fetched = FetchManifest(baseUrl + L"version.ini", keys);
    switch (fetched.status) {
    case ManifestFetch::Fetched:
        break;
    case ManifestFetch::Unavailable:
        return kUpdateSucceeded;  // as if the server were away: nothing failed that was to be installed
    case ManifestFetch::Rejected:
        return kUpdateFailed;
    }
    const Manifest& manifest = fetched.manifest;
    g_updateLog.Stream() << L" NewVer:" << manifest.main.version.text << L" MinVer:" << manifest.main.miniver.text;
    if (keys.Any() && !AcceptSignedManifest(manifest, keys, *fetched.signingKey, CurrentUnixTime())) {
        return kUpdateFailed;  // stale, replayed or malformed: someone answers who must not
    }

    const UpdatePlan plan = DecideUpdate(options.installedVersion, manifest.main, baseUrl);
    if (plan.kind == PackageKind::None || !IsWithinPin(manifest, policy) || !IsOfferedHere(manifest)) {
        return kUpdateSucceeded;
    }
    if (plan.kind == PackageKind::Patch) {
        NotifyUpdateAvailable(plan.version.c_str());  // never for the full package
    }
    PackageOutcome outcome = TakePlannedPackage(plan, manifest, keys, options, policy);
    PackageOrder full;
    if (outcome.result != InstallerResult::Succeeded && outcome.patchMendable &&
        CanFallBack(manifest, keys, options, full)) {
        g_updateLog.Stream() << L" PatchFallback:" << outcome.why << L", taking the full package";
        outcome = FetchAndInstall(full, options, policy);
    }
    // Kept for the first run after the quiet hours, which then checks at once.
    stamp = !outcome.quietHours;
    return outcome.result == InstallerResult::Succeeded || outcome.quietHours ? kUpdateSucceeded : kUpdateFailed;
}

}  // namespace

int RunUpdateCycle(const UpdateOptions& options, const UpdateKeys& keys, const UpdatePolicy& policy)
{
    g_hHostWnd = options.hostWindow;
    g_nHostParam = options.hostParam;
    std::int32_t result = kUpdateFailed;
    try {
        NotifyCheckingForUpdate();
        for (const std::wstring& entry : policy.logEntries) {
            g_updateLog.Stream() << entry;
        }
        RemoveLeftRunFolders(LeftFolders());
        result = kUpdateSucceeded;
        if (policy.updatesOff) {
            g_updateLog.Stream() << UpdatesOffLogText();  // no server is asked, no time stamp written
        } else if (IsCheckDue(policy)) {
            bool stamp = true;
            result = CheckAndInstall(options, keys, policy, stamp);
            if (stamp) {
                SaveLastCheckTime();
            }
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
