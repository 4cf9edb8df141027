// A transfer tried again when it fails in a way that may pass.
#pragma once

#include "net/transfer_rules.h"

#include <cstdint>
#include <functional>
#include <vector>

// The waits this build makes before each retry (the production build: about 10 s, then 30 s).
std::vector<DWORD> BuildRetryWaits();

// limits with its overall time cut to what is left before deadlineTick
// (GetTickCount64; 0: no deadline, limits as they are).
TransferLimits LimitsBefore(const TransferLimits& limits, std::uint64_t deadlineTick);

// Runs attempt(limits) until it completes or fails for good (see NextRetry),
// waiting before each retry; every retry leaves one log entry with its cause
// and its wait. deadlineTick (GetTickCount64; 0: none) bounds all of it: each
// attempt gets at most the time that is left as its overall limit, and no wait
// is begun that would end past it. Returns the last attempt's outcome.
TransferOutcome RunWithRetries(const TransferLimits& limits, std::uint64_t deadlineTick,
                               const std::function<TransferOutcome(const TransferLimits&)>& attempt);
