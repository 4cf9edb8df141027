#include "update/update_driver.h"

#include "build_settings.h"
#include "log/update_log.h"
#include "update/check_schedule.h"
#include "update/host_messages.h"
#include "update/manifest/manifest_acceptance.h"
#include "update/manifest/manifest_fetch.h"
#include "update/package/run_folder.h"
#include "update/package_taking.h"
#include "update/release_offer.h"
#include "update/update_decision.h"
#include "update/update_result.h"
#include "update/updater_registry.h"

namespace {

constexpr wchar_t kBaseUrl[] = VELMAR_UPDATE_BASE_URL;

// What a check that was due came to.
struct CheckOutcome {
    std::int32_t result = kUpdateSucceeded;
    bool counts = true;  // false: it counts as not made (the quiet hours began), no time stamp
};

// Whether this cycle checks at all, as the policies and the schedule say; the log says why not.
bool ShouldCheckNow(const UpdatePolicy& policy)
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
    return IsUpdateCheckDue(period);
}

// The manifest, the plan, the package, the installer: a check that is due.
CheckOutcome CheckAndInstall(const UpdateOptions& options, const UpdateKeys& keys, const PublisherPins& pins,
                             const UpdatePolicy& policy)
{
    // A mirror serves the vendor's signed files: everything is checked as for our own server.
    const std::wstring baseUrl = policy.updateUrl.value_or(kBaseUrl);
    const FetchedManifest fetched = FetchManifest(baseUrl + L"version.ini", keys);
    switch (fetched.status) {
    case ManifestFetch::Fetched:
        break;
    case ManifestFetch::Unavailable:
        return CheckOutcome{kUpdateSucceeded};  // as if the server were away: nothing failed that was to be installed
    case ManifestFetch::Rejected:
        return CheckOutcome{kUpdateFailed};
    }
    const Manifest& manifest = fetched.manifest;
    g_updateLog.Stream() << L" NewVer:" << manifest.main.version.text << L" MinVer:" << manifest.main.miniver.text;
    if (!AcceptManifest(fetched, keys, baseUrl, CurrentUnixTime())) {
        return CheckOutcome{kUpdateFailed};  // stale, replayed, malformed or not logged: someone answers who must not
    }

    const UpdatePlan plan = DecideUpdate(options.installedVersion, manifest.main, baseUrl);
    if (plan.kind == PackageKind::None || !IsWithinPin(manifest, policy) || !IsOfferedHere(manifest)) {
        return CheckOutcome{kUpdateSucceeded};
    }
    if (plan.kind == PackageKind::Patch) {
        NotifyUpdateAvailable(plan.version.c_str());  // never for the full package
    }
    PackageOutcome outcome = TakePlannedPackage(plan, manifest, keys, pins, options, policy);
    if (outcome.result != InstallerResult::Succeeded && outcome.fullPackageCanMend) {
        if (const std::optional<PackageOrder> full = FallbackOrder(manifest, keys, options)) {
            g_updateLog.Stream() << L" PatchFallback:" << outcome.why << L", taking the full package";
            outcome = FetchAndInstall(*full, pins, options, policy);
        }
    }
    // Kept for the first run after the quiet hours, which then checks at once.
    const bool installed = outcome.result == InstallerResult::Succeeded;
    return CheckOutcome{installed || outcome.quietHoursBegan ? kUpdateSucceeded : kUpdateFailed,
                        !outcome.quietHoursBegan};
}

}  // namespace

int RunUpdateCycle(const UpdateOptions& options, const UpdateKeys& keys, const PublisherPins& pins,
                   const UpdatePolicy& policy)
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
        } else if (ShouldCheckNow(policy)) {
            const CheckOutcome checked = CheckAndInstall(options, keys, pins, policy);
            result = checked.result;
            if (checked.counts) {
                SaveLastCheckTime();
            }
        }
    } catch (...) {
        // Whatever went wrong, the host still learns that the cycle has ended.
        result = kUpdateFailed;
    }
    try {
        NotifyComplete(result);
    } catch (...) {
    }
    return 0;
}
