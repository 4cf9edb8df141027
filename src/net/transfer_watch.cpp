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
    watch.maxBytes = 0;  // the transfer checks the size itself, before it stores anything
    return watch;
}

}  // namespace

void TransferContext::Finish(const TransferOutcome& outcome)
{
    std::lock_guard<std::mutex> hold(mutex_);
    outcome_ = outcome;
    done_ = true;
}

bool TransferContext::HoldRequest(InternetHandleOwner request)
{
    std::lock_guard<std::mutex> hold(mutex_);
    request_ = std::move(request);
    if (abandoned_) {
        request_.Reset();
        return false;
    }
    return true;
}

void TransferContext::CloseRequest()
{
    std::lock_guard<std::mutex> hold(mutex_);
    request_.Reset();
}

bool TransferContext::Abandon()
{
    std::lock_guard<std::mutex> hold(mutex_);
    abandoned_ = !done_;
    if (abandoned_) {
        request_.Reset();  // fails a call in progress, so the thread ends sooner
    }
    return abandoned_;
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
        return job->run(job->context);  // unwatched, but still under its own guard and time-outs
    }
    TransferGuard watch(WatchLimits(limits), ::GetTickCount64());
    for (;;) {
        if (::WaitForSingleObject(thread.Get(), kWatchSliceMs) == WAIT_OBJECT_0) {
            return job->context.Outcome();
        }
        const TransferEnd end = watch.Check(::GetTickCount64(), job->context.moved.load());
        if (end == TransferEnd::Complete) {
            continue;
        }
        if (!job->context.Abandon()) {
            ::WaitForSingleObject(thread.Get(), INFINITE);  // it has finished and is on its way out
            return job->context.Outcome();
        }
        TransferOutcome outcome;
        outcome.where = url;
        outcome.end = end;
        LogTransferFailure(outcome, limits, L", given up in a call that did not return");
        return outcome;
    }
}

void LogTransferFailure(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note)
{
    g_updateLog.Stream() << L" TransferFailed:" << outcome.where << L" " << DescribeTransferEnd(outcome, limits) << note;
}
