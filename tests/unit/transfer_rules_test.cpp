#include "net/transfer_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(TransferRules, BodyIsCompleteWhenUnannouncedOrExact)
{
    const struct {
        bool announced;
        std::uint64_t length;
        std::uint64_t received;
        bool complete;
    } cases[] = {
        {false, 0, 0, true},   {false, 0, 12345, true}, {true, 0, 0, true},   {true, 10, 10, true},
        {true, 10, 9, false},  {true, 10, 11, false},   {true, 0, 1, false},
        {true, 5000000000ull, 5000000000ull, true},     {true, 5000000000ull, 705032704ull, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.complete, IsCompleteBody(c.announced, c.length, c.received))
            << c.announced << " " << c.length << " " << c.received;
    }
}

TEST(TransferRules, OnlyHttpSchemesAndNoDowngradeOnRedirect)
{
    EXPECT_TRUE(HasHttpScheme(L"http://127.0.0.1/x.exe"));
    EXPECT_TRUE(HasHttpScheme(L"HTTPS://host/x.exe"));
    for (const wchar_t* url : {L"file:///C:/x.exe", L"ftp://host/x.exe", L"http:/host/x.exe", L"C:\\x\\y.exe", L"0"}) {
        EXPECT_FALSE(HasHttpScheme(url)) << std::wstring(url).size();
    }
    const struct {
        const wchar_t* from;
        const wchar_t* to;
        bool followed;
    } redirects[] = {
        {L"http://a/v.ini", L"http://b/v.ini", true},
        {L"http://a/v.ini", L"https://b/v.ini", true},
        {L"https://a/v.ini", L"https://b/v.ini", true},
        {L"https://a/v.ini", L"HTTPS://b/v.ini", true},
        {L"https://a/v.ini", L"http://a/v.ini", false},
        {L"HTTPS://a/v.ini", L"http://a/v.ini", false},
        {L"http://a/v.ini", L"file:///C:/windows/notepad.exe", false},
        {L"http://a/v.ini", L"ftp://a/v.ini", false},
        {L"http://a/v.ini", L"/relative/v.ini", false},
    };
    for (const auto& r : redirects) {
        EXPECT_EQ(r.followed, IsAllowedRedirect(r.from, r.to)) << r.followed;
    }
}

// Steps of (milliseconds since the start, bytes moved so far); every step but
// the last must let the transfer go on, and the last gives `end`.
struct GuardCase {
    const char* label;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> steps;
    TransferEnd end;
};

TEST(TransferGuard, EndsStallsSlowTransfersAndOversizedOnes)
{
    TransferLimits limits;
    limits.stallWindowMs = 30000;
    limits.stallMinBytes = 1024;
    limits.overallMs = 60000;
    limits.maxBytes = 1 << 20;

    std::vector<std::pair<std::uint64_t, std::uint64_t>> trickle;  // one byte every 2 s
    for (std::uint64_t ms = 2000; ms <= 30000; ms += 2000) {
        trickle.push_back({ms, ms / 2000});
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> slowButEnough;  // 1100 bytes every 29 s
    for (std::uint64_t i = 1; i <= 2; ++i) {
        slowButEnough.push_back({i * 29000, i * 1100});
    }
    const GuardCase cases[] = {
        {"fast", {{100, 65536}, {30000, 500000}, {59000, 1 << 20}}, TransferEnd::Complete},
        {"silent_for_a_window", {{29999, 0}, {30000, 0}}, TransferEnd::Stalled},
        {"one_byte_every_2_s", trickle, TransferEnd::Stalled},
        {"slow_but_enough", slowButEnough, TransferEnd::Complete},
        // A burst, then nothing: the window slides, so it ends 30 s after the burst, not 60.
        {"burst_then_silence", {{1000, 2048}, {30500, 2048}, {31500, 2048}}, TransferEnd::Stalled},
        {"just_under_in_the_last_window", {{1000, 5000}, {30000, 5000 + 1023}, {31500, 5000 + 1023}},
         TransferEnd::Stalled},
        {"over_the_time_limit", {{1000, 65536}, {30000, 300000}, {60001, 600000}}, TransferEnd::TooLong},
        {"over_the_size_limit", {{1000, 1 << 20}, {1001, (1 << 20) + 1}}, TransferEnd::TooLarge},
    };
    for (const auto& c : cases) {
        TransferGuard guard(limits, 5000);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const TransferEnd end = guard.Check(5000 + c.steps[i].first, c.steps[i].second);
            if (i + 1 < c.steps.size()) {
                ASSERT_EQ(TransferEnd::Complete, end) << c.label << " step " << i;
            } else {
                EXPECT_EQ(c.end, end) << c.label;
            }
        }
    }
}

TEST(TransferGuard, TimeOutsNeverOutlastTheOverallLimit)
{
    TransferLimits limits;
    limits.overallMs = 60000;
    TransferGuard guard(limits, 0);
    EXPECT_EQ(30000u, guard.RemainingMs(0, 30000));
    EXPECT_EQ(20000u, guard.RemainingMs(40000, 30000));
    EXPECT_EQ(1u, guard.RemainingMs(70000, 30000));
    TransferGuard unlimited(TransferLimits{}, 0);
    EXPECT_EQ(30000u, unlimited.RemainingMs(1000000, 30000));
}

TEST(TransferGuard, ARedirectHopThatAnsweredIsProgress)
{
    TransferLimits limits;
    limits.stallWindowMs = 3000;
    limits.timeoutMs = 3000;
    TransferGuard guard(limits, 0);
    for (std::uint64_t ms = 900; ms <= 4500; ms += 900) {  // five hops, each answered in 0.9 s
        ASSERT_EQ(TransferEnd::Complete, guard.Check(ms, 0)) << ms;
        guard.RestartStall(ms, 0);
    }
    EXPECT_EQ(TransferEnd::Stalled, guard.Check(4500 + 3000, 0)) << "silence after the last hop";
    // A time-out is told as the one set for the call, which the overall limit may have cut short.
    TransferOutcome cut;
    cut.end = TransferEnd::TimedOut;
    cut.error = 12002;
    cut.timeoutMs = 1700;
    EXPECT_EQ(L"timed out after 1.7 s (Windows error 12002)", DescribeTransferEnd(cut, limits));
}

// A line that delivers bytesPerSecond (after `fastMs` at fastBytesPerSecond) and
// reads as the transfer core does: wait for a first byte, then ask for
// NextRead(what has arrived) and wait until all of it has come. Returns the
// longest single wait and the piece size at the end.
std::pair<double, DWORD> Simulate(double bytesPerSecond, double seconds, double fastBytesPerSecond = 0,
                                  double fastMs = 0)
{
    const auto arrived = [&](double ms) {
        return ms <= fastMs ? fastBytesPerSecond * ms / 1000
                            : fastBytesPerSecond * fastMs / 1000 + bytesPerSecond * (ms - fastMs) / 1000;
    };
    const auto whenArrived = [&](double bytes) {
        const double fastBytes = fastBytesPerSecond * fastMs / 1000;
        return bytes <= fastBytes ? bytes * 1000 / fastBytesPerSecond
                                  : fastMs + (bytes - fastBytes) * 1000 / bytesPerSecond;
    };
    PieceSizer sizer(0);
    double now = 0;
    double consumed = 0;
    double longest = 0;
    while (now < seconds * 1000) {
        const double started = now;
        now = std::max(now, whenArrived(consumed + 1));
        const double available = std::min(8192.0, std::floor(arrived(now) - consumed));
        const double want = sizer.NextRead(static_cast<DWORD>(available));
        now = std::max(now, whenArrived(consumed + want));
        consumed += want;
        sizer.Moved(static_cast<DWORD>(want), static_cast<DWORD>(want), static_cast<std::uint64_t>(started),
                    static_cast<std::uint64_t>(now));
        longest = std::max(longest, now - started);
    }
    return {longest, sizer.Next()};
}

TEST(PieceSizer, ReadsNeverWaitAWholeStallWindowOnALineThatStillMoves)
{
    // Just above the stall rule's 1 KiB in 30 s, every read still ends within the window.
    EXPECT_LT(Simulate(40, 300).first, 30000);
    // A slow but steady line: reads of about half a second.
    EXPECT_LT(Simulate(4096, 120).first, 1100);
    // A fast line reads 1 MiB at a time.
    EXPECT_EQ(1024u * 1024u, Simulate(200e6, 2).second);
    // From fast to 64 KiB/s at once: the 1 MiB read in flight still ends in time.
    EXPECT_LT(Simulate(65536, 60, 200e6, 1000).first, 30000);
}

}  // namespace
