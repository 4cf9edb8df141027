#include "update/package/package_rules.h"

InstallStart DecideInstallStart(const std::optional<QuietWindow>& quietWindow, int minuteOfDay,
                                std::uint64_t packageBytes, bool resumable)
{
    if (!quietWindow || !IsInQuietWindow(*quietWindow, minuteOfDay)) {
        return InstallStart{};
    }
    return InstallStart{false, resumable && packageBytes > 1 ? packageBytes - 1 : 0};
}

bool FullPackageCanMend(const TransferOutcome& failed, bool bound)
{
    switch (failed.end) {
    case TransferEnd::HttpStatus:
        return failed.status == 404 || failed.status == 410;
    case TransferEnd::WrongLength:
    case TransferEnd::TooLarge:
        return bound;  // more bytes than the manifest's [size]; unbound, only the size limit
    default:
        return false;
    }
}
