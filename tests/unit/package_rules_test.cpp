#include "update/package/package_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageRules, NoInstallerStartsOnceTheQuietHoursHaveBegun)
{
    const QuietWindow evening{22 * 60 + 30, 120};  // 22:30 to 00:30
    const struct {
        std::optional<QuietWindow> window;
        int minute;
        std::uint64_t bytes;
        bool resumable;
        bool start;
        std::uint64_t keep;
    } cases[] = {
        {std::nullopt, 23 * 60, 5000, true, true, 0},
        {evening, 22 * 60 + 29, 5000, true, true, 0},
        {evening, 22 * 60 + 30, 5000, true, false, 4999},  // all but the last byte, for a later run to check whole
        {evening, 29, 5000, true, false, 4999},            // past midnight, still inside
        {evening, 30, 5000, true, true, 0},
        {evening, 23 * 60, 5000, false, false, 0},  // bytes that could not be resumed are not kept
        {evening, 23 * 60, 1, true, false, 0},
    };
    for (const auto& c : cases) {
        const InstallStart decided = DecideInstallStart(c.window, c.minute, c.bytes, c.resumable);
        EXPECT_EQ(c.start, decided.start) << c.minute;
        EXPECT_EQ(c.keep, decided.keepBytes) << c.minute;
    }
}

TEST(PackageRules, OnlyWhatTheFullPackageCanMendFallsBack)
{
    const struct {
        TransferEnd end;
        DWORD status;
        bool bound;
        bool mendable;
    } cases[] = {
        {TransferEnd::HttpStatus, 404, true, true},  {TransferEnd::HttpStatus, 410, false, true},
        {TransferEnd::HttpStatus, 503, true, false}, {TransferEnd::WrongLength, 200, true, true},
        {TransferEnd::TooLarge, 200, true, true},    {TransferEnd::TooLarge, 200, false, false},  // the size limit
        {TransferEnd::TooLong, 200, true, false},    {TransferEnd::LocalWriteFailed, 200, true, false},
    };
    for (const auto& c : cases) {
        TransferOutcome failed;
        failed.end = c.end;
        failed.status = c.status;
        EXPECT_EQ(c.mendable, FullPackageCanMend(failed, c.bound)) << static_cast<int>(c.end) << " " << c.status;
    }
}

}  // namespace
