// When a failed transfer is tried again, and after how long: plain values in,
// a decision out.
#pragma once

#include "net/transfer_rules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A server that asks for a longer wait than this is given up on for today.
constexpr std::int64_t kLongestRetryAfterSeconds = 120;

// Failures that may pass on another try: connection refused, reset or aborted,
// no answer, a time-out, a stall, a body cut short, and HTTP 408, 429, 500,
// 502, 503 and 504. Never another 4xx, a refused redirect, anything too large,
// a local write failure or a length that is not what was expected.
bool IsRetryable(const TransferOutcome& outcome);

// Retry-After as seconds to wait from nowSeconds (Unix time): a number of
// seconds, or an HTTP date (IMF-fixdate, e.g. "Sun, 06 Nov 1994 08:49:37 GMT";
// a date gone by is 0). nullopt when it is neither.
std::optional<std::int64_t> ParseRetryAfter(const std::wstring& text, std::int64_t nowSeconds);

struct RetryStep {
    bool retry = false;
    DWORD waitMs = 0;
};

// After a failed try: retriesMade retries have been made already, waitsMs are
// the waits before each retry (their number is how many there may be), jitter
// is drawn from [-1, 1] and moves the wait by up to 25%. A 429 or 503 with a
// Retry-After of at most kLongestRetryAfterSeconds waits that long instead; a
// longer one ends the retries.
RetryStep NextRetry(const TransferOutcome& failed, std::size_t retriesMade, const std::vector<DWORD>& waitsMs,
                    double jitter, std::int64_t nowSeconds);
