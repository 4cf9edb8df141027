#include "net/transfer_watch.h"

#include "base/handle_owner.h"
#include "log/update_log.h"

#include <windows.h>

#include <memory>

namespace {

constexpr DWORD kWatchGraceMs = 1000;
constexpr DWORD kWatchSliceMs = 100;

struct TransferJob {
    std::function<TransferOutcome(TransferContext&)> run;
    TransferContext context;
};

DWORD WINAPI RunJob(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<TransferJob>> handoff(static_cast<std::shared_ptr<TransferJob>*>(parameter));
    TransferJob& job = **handoff;
    TransferOutcome outcome;
    try {
        outcome = job.run(job.context);
    } catch (...) {
        outcome.end = TransferEnd::WindowsError;
        outcome.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    job.context.Finish(outcome);
    return 0;
}

TransferLimits WatchLimits(const TransferLimits& limits)
{
    TransferLimits watch = limits;
    watch.stallWindowMs = limits.stallWindowMs != 0 ? limits.stallWindowMs + kWatchGraceMs : 0;
    watch.overallMs = limits.overallMs != 0 ? limits.overallMs + kWatchGraceMs : 0;
    watch.answerMs = limits.answerMs != 0 ? limits.answerMs + kWatchGraceMs : 0;
    watch.maxBytes = 0;  // the transfer checks the size itself, before it stores anything
    return watch;
}

TransferOutcome Logged(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note)
{
    if (!outcome.Complete()) {
        LogTransferFailure(outcome, limits, note);
    }
    return outcome;
}

}  // namespace

void TransferContext::Finish(const TransferOutcome& outcome)
{
    std::lock_guard<std::mutex> hold(mutex_);
    outcome_ = outcome;
    done_ = true;
}

bool TransferContext::Abandon()
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (!done_) {
        abandoned_.store(true);
    }
    return !done_;
}

TransferOutcome RunWatched(const std::wstring& url, const TransferLimits& limits,
                           std::function<TransferOutcome(TransferContext&)> transfer)
{
    auto job = std::make_shared<TransferJob>();
    job->run = std::move(transfer);
    auto* handoff = new std::shared_ptr<TransferJob>(job);
    HandleOwner thread(::CreateThread(nullptr, 0, &RunJob, handoff, 0, nullptr));
    if (!thread.Valid()) {
        delete handoff;
        // Unwatched, but still under its own guard and time-outs.
        return Logged(job->run(job->context), limits, L"");
    }
    TransferGuard watch(WatchLimits(limits), ::GetTickCount64());
    std::uint64_t hopSeen = 0;
    for (;;) {
        if (::WaitForSingleObject(thread.Get(), kWatchSliceMs) == WAIT_OBJECT_0) {
            return Logged(job->context.Outcome(), limits, L"");
        }
        if (const std::uint64_t answerFrom = job->context.answerFromMs.load()) {
            watch.StartAnswer(answerFrom);
        }
        if (const std::uint64_t hop = job->context.hopAnsweredMs.load(); hop != hopSeen) {
            hopSeen = hop;
            watch.RestartStall(hop, job->context.moved.load());
        }
        const TransferEnd end = watch.Check(::GetTickCount64(), job->context.moved.load());
        if (end == TransferEnd::Complete) {
            continue;
        }
        if (!job->context.Abandon()) {
            ::WaitForSingleObject(thread.Get(), INFINITE);  // it has finished and is on its way out
            return Logged(job->context.Outcome(), limits, L"");
        }
        TransferOutcome outcome;
        outcome.where = url;
        outcome.end = end;
        return Logged(outcome, limits, L", given up in a call that did not return");
    }
}

void LogTransferFailure(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note)
{
    g_updateLog.Stream() << L" TransferFailed:" << outcome.where << L" " << DescribeTransferEnd(outcome, limits) << note;
}
