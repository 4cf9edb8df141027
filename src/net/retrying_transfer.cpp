#include "net/retrying_transfer.h"

#include "base/random.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "net/retry_rules.h"

#include <windows.h>

#include <ctime>

namespace {

// A draw from [-1, 1]; 0 (no jitter) when the generator fails.
double Jitter()
{
    std::uint32_t draw = 0;
    if (!RandomBytes(&draw, sizeof draw)) {
        return 0;
    }
    return draw / 2147483647.5 - 1;
}

}  // namespace

std::vector<DWORD> BuildRetryWaits() { return VELMAR_RETRY_WAITS_MS; }

TransferLimits LimitsBefore(const TransferLimits& limits, std::uint64_t deadlineTick)
{
    TransferLimits bounded = limits;
    if (deadlineTick != 0) {
        const std::uint64_t now = ::GetTickCount64();
        const DWORD left = now < deadlineTick ? static_cast<DWORD>(deadlineTick - now) : 1;
        bounded.overallMs = limits.overallMs != 0 && limits.overallMs < left ? limits.overallMs : left;
    }
    return bounded;
}

TransferOutcome RunWithRetries(const TransferLimits& limits, std::uint64_t deadlineTick,
                               const std::function<TransferOutcome(const TransferLimits&)>& attempt)
{
    const std::vector<DWORD> waits = BuildRetryWaits();
    for (std::size_t retries = 0;; ++retries) {
        const TransferLimits bounded = LimitsBefore(limits, deadlineTick);
        const TransferOutcome outcome = attempt(bounded);
        if (outcome.Complete()) {
            return outcome;
        }
        const RetryStep step = NextRetry(outcome, retries, waits, Jitter(), static_cast<std::int64_t>(std::time(nullptr)));
        if (!step.retry) {
            return outcome;
        }
        auto& entry = g_updateLog.Stream() << L" Retry:" << outcome.where << L" after "
                                           << DescribeTransferEnd(outcome, bounded);
        if (deadlineTick != 0 && ::GetTickCount64() + step.waitMs >= deadlineTick) {
            entry << L": no time left for it";
            return outcome;
        }
        entry << L", in " << static_cast<unsigned long>(step.waitMs) << L" ms";
        ::Sleep(step.waitMs);
    }
}
