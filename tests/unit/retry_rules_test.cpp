#include "net/retry_rules.h"

#include <wininet.h>

#include <gtest/gtest.h>

namespace {

TransferOutcome Failed(TransferEnd end, DWORD status = 0, DWORD error = 0, const wchar_t* retryAfter = L"")
{
    TransferOutcome outcome;
    outcome.end = end;
    outcome.status = status;
    outcome.error = error;
    outcome.retryAfter = retryAfter;
    return outcome;
}

TEST(RetryRules, OnlyWhatMayPassIsTriedAgain)
{
    for (const TransferOutcome& again :
         {Failed(TransferEnd::TimedOut), Failed(TransferEnd::Stalled), Failed(TransferEnd::ShortBody),
          Failed(TransferEnd::WindowsError, 0, ERROR_INTERNET_CANNOT_CONNECT),
          Failed(TransferEnd::WindowsError, 0, ERROR_INTERNET_CONNECTION_RESET),
          Failed(TransferEnd::WindowsError, 0, ERROR_INTERNET_CONNECTION_ABORTED),
          Failed(TransferEnd::HttpStatus, 408), Failed(TransferEnd::HttpStatus, 429), Failed(TransferEnd::HttpStatus, 500),
          Failed(TransferEnd::HttpStatus, 502), Failed(TransferEnd::HttpStatus, 503), Failed(TransferEnd::HttpStatus, 504)}) {
        EXPECT_TRUE(IsRetryable(again)) << static_cast<int>(again.end) << " " << again.status << " " << again.error;
    }
    for (const TransferOutcome& never :
         {Failed(TransferEnd::HttpStatus, 404), Failed(TransferEnd::HttpStatus, 403), Failed(TransferEnd::HttpStatus, 501),
          Failed(TransferEnd::HttpStatus, 302), Failed(TransferEnd::WindowsError, 0, ERROR_INTERNET_NAME_NOT_RESOLVED),
          Failed(TransferEnd::RedirectRefused), Failed(TransferEnd::TooManyRedirects), Failed(TransferEnd::TooLarge),
          Failed(TransferEnd::LocalWriteFailed), Failed(TransferEnd::WrongLength), Failed(TransferEnd::NoLength),
          Failed(TransferEnd::BadLength), Failed(TransferEnd::BadUrl), Failed(TransferEnd::TooLong)}) {
        EXPECT_FALSE(IsRetryable(never)) << static_cast<int>(never.end) << " " << never.status << " " << never.error;
    }
}

TEST(RetryRules, RetryAfterIsSecondsOrAnHttpDate)
{
    const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(0, ParseRetryAfter(L"0", now));
    EXPECT_EQ(120, ParseRetryAfter(L"120", now));
    EXPECT_EQ(30, ParseRetryAfter(L"Sun, 06 Nov 1994 08:50:07 GMT", now));
    EXPECT_EQ(86400 + 3600, ParseRetryAfter(L"Mon, 07 Nov 1994 09:49:37 GMT", now));
    EXPECT_EQ(0, ParseRetryAfter(L"Sat, 05 Nov 1994 08:49:37 GMT", now));  // gone by: at once
    EXPECT_GT(ParseRetryAfter(L"99999999999999999999999", now), kLongestRetryAfterSeconds);  // too many digits: long
    for (const wchar_t* bad : {L"", L"-5", L"1.5", L" 5", L"soon", L"Sun, 06 Nov 1994 08:49:37 UTC",
                               L"Sunday, 06-Nov-94 08:49:37 GMT", L"Sun, 31 Nov 1994 08:49:37 GMT"}) {
        EXPECT_FALSE(ParseRetryAfter(bad, now)) << bad;
    }
}

TEST(RetryRules, WaitsWithJitterAndTheServersWord)
{
    const std::vector<DWORD> waits = {10000, 30000};
    const struct {
        TransferOutcome failed;
        std::size_t retriesMade;
        double jitter;
        bool retry;
        DWORD waitMs;
    } cases[] = {
        {Failed(TransferEnd::TimedOut), 0, 0, true, 10000},
        {Failed(TransferEnd::TimedOut), 1, 0, true, 30000},
        {Failed(TransferEnd::TimedOut), 2, 0, false, 0},  // two retries, then no more
        {Failed(TransferEnd::TimedOut), 0, 1, true, 12500},
        {Failed(TransferEnd::TimedOut), 1, -1, true, 22500},
        {Failed(TransferEnd::TimedOut), 0, 7, true, 12500},  // jitter never beyond 25%
        {Failed(TransferEnd::HttpStatus, 503, 0, L"3"), 0, 1, true, 3000},
        {Failed(TransferEnd::HttpStatus, 429, 0, L"120"), 1, 0, true, 120000},
        {Failed(TransferEnd::HttpStatus, 503, 0, L"121"), 0, 0, false, 0},  // away for longer: tomorrow
        {Failed(TransferEnd::HttpStatus, 503, 0, L"whenever"), 0, 0, true, 10000},
        {Failed(TransferEnd::HttpStatus, 500, 0, L"3"), 0, 0, true, 10000},  // only 429 and 503 say when
        {Failed(TransferEnd::HttpStatus, 404), 0, 0, false, 0},
    };
    for (const auto& c : cases) {
        const RetryStep step = NextRetry(c.failed, c.retriesMade, waits, c.jitter, 0);
        EXPECT_EQ(c.retry, step.retry) << c.failed.status << " " << c.retriesMade << " " << c.jitter;
        EXPECT_EQ(c.waitMs, step.retry ? step.waitMs : 0u) << c.failed.status << " " << c.retriesMade;
    }
}

}  // namespace
