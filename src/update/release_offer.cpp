#include "update/release_offer.h"

#include "log/update_log.h"
#include "update/updater_registry.h"

#include <optional>

namespace {

// The place of an installation without an id: offered at 100 only.
constexpr std::uint32_t kLastPlace = 9999;

}  // namespace

bool IsWithinPin(const Manifest& manifest, const UpdatePolicy& policy)
{
    if (!policy.targetVersionPrefix || policy.targetVersionPrefix->Admits(*manifest.main.version.value)) {
        return true;
    }
    g_updateLog.Stream() << OutsidePrefixLogText(manifest.main.version.text, *policy.targetVersionPrefix);
    return false;
}

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
    const std::uint32_t place = id ? RolloutPlace(*manifest.main.version.value, *id) : kLastPlace;
    if (IsOffered(place, rollout.hundredths)) {
        return true;
    }
    g_updateLog.Stream() << L" RolloutWait:" << version << L" offered to " << rollout.text
                         << L"% of installations, this one is at " << PlaceAsPercent(place) << L"%";
    return false;
}
