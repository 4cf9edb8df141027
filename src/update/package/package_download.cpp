#include "update/package/package_download.h"

#include "build_settings.h"
#include "log/update_log.h"
#include "net/retrying_transfer.h"
#include "update/package/package_location.h"
#include "update/package/package_rules.h"
#include "update/package/package_store.h"
#include "update/policy/quiet_window.h"

#include <windows.h>

#include <memory>
#include <mutex>

namespace {

// One try's view of the store. Once the try is over, a thread that was given up
// and wakes later finds the view cut, and touches nothing.
class AttemptSink : public ResponseSink {
public:
    explicit AttemptSink(std::shared_ptr<PackageStore> store) : store_(std::move(store)) {}

    SinkStep Begin(const ResponseHead& head) override
    {
        std::lock_guard<std::mutex> hold(store_->mutex);
        return cut_ ? TransferEnd::Stalled : store_->Begin(head);
    }
    SinkStep Write(const char* data, DWORD size) override
    {
        std::lock_guard<std::mutex> hold(store_->mutex);
        return cut_ ? TransferEnd::Stalled : store_->Write(data, size);
    }
    TransferEnd End() override
    {
        std::lock_guard<std::mutex> hold(store_->mutex);
        return cut_ ? TransferEnd::Stalled : store_->End();
    }
    void Cut()
    {
        std::lock_guard<std::mutex> hold(store_->mutex);
        cut_ = true;
    }

private:
    std::shared_ptr<PackageStore> store_;
    bool cut_ = false;
};

// One try, with a resume refused by the server started again from zero at once
// (in the time that is left).
TransferOutcome TryPackage(const std::wstring& url, const TransferLimits& bounded, std::uint64_t deadline,
                           const std::shared_ptr<PackageStore>& store)
{
    const auto get = [&](const TransferLimits& limits) {
        std::wstring headers;
        {
            std::lock_guard<std::mutex> hold(store->mutex);
            headers = store->RequestHeaders();
        }
        const auto sink = std::make_shared<AttemptSink>(store);
        const TransferOutcome outcome = HttpGet(url, limits, sink, headers);
        sink->Cut();
        return outcome;
    };
    const TransferOutcome tried = get(bounded);
    {
        std::lock_guard<std::mutex> hold(store->mutex);
        if (!store->StartsAgain(tried)) {
            return tried;
        }
        store->Restart();  // not the bytes kept: from zero, at once
    }
    return get(LimitsBefore(bounded, deadline));
}

// The partial downloads' folder goes when a package leaves nothing in it.
struct EmptyPartialFolderGoes {
    ~EmptyPartialFolderGoes() { RemoveEmptyPartialFolder(); }
};

}  // namespace

std::vector<HANDLE> DownloadedPackage::Holds() const
{
    std::vector<HANDLE> holds = folder_.Holds();
    holds.push_back(file_.Handle());
    return holds;
}

void DownloadedPackage::LeaveForLater()
{
    file_.Close();
    folder_.LeaveForLater();
}

std::optional<DownloadedPackage> DownloadPackage(const PackageOrder& order, const FolderRecords& folderRecords,
                                                 const std::optional<QuietWindow>& quietWindow, PackageFailure& failure)
{
    const std::wstring& url = order.url;
    const std::optional<PackageBinding>& binding = order.binding;
    WinResult<RunFolder> created = RunFolder::Create(folderRecords);
    if (!created.value) {
        g_updateLog.Stream() << L" NoPackageFolder:" << static_cast<unsigned long>(created.status.Error());
        failure.why = L"no folder for it could be made";
        return std::nullopt;
    }
    std::optional<RunFolder>& folder = created.value;
    const std::wstring path = JoinPackagePath(folder->Path(), order.fileName, MAX_PATH);
    if (path.empty()) {
        failure.why = L"its path would be too long";
        return std::nullopt;
    }
    g_updateLog.Stream() << L"szDownUrl:" << url << path;

    // The patch and the full package each keep their own partial download.
    EmptyPartialFolderGoes tidy;
    PartialDownload partial(order.kind == PackageKind::Full ? L"full" : L"patch");
    const auto store = std::make_shared<PackageStore>(std::move(partial), url, binding, folder->Path(), order.fileName);
    std::unique_lock<std::mutex> hold(store->mutex);
    if (store->Kept().bytes > 0) {
        g_updateLog.Stream() << L" Resume:" << store->Kept().bytes << L" bytes kept";
    }
    hold.unlock();
    TransferLimits limits = DefaultTransferLimits();
    limits.maxBytes = binding ? binding->size : VELMAR_MAX_PACKAGE_BYTES;
    const std::uint64_t deadline = ::GetTickCount64() + VELMAR_PACKAGE_TIME_LIMIT_MS;
    const TransferOutcome outcome = RunWithRetries(limits, deadline, [&](const TransferLimits& bounded) {
        return TryPackage(url, bounded, deadline, store);
    });
    hold.lock();
    if (!outcome.Complete()) {
        failure.why = DescribeTransferEnd(outcome, limits);
        failure.fullPackageCanMend = FullPackageCanMend(outcome, binding.has_value());
        if (store->Resumable(outcome)) {
            g_updateLog.Stream() << L" PackageKept:" << store->Kept().bytes << L" bytes for the next try";
            store->Keep();
        } else {
            store->Discard();  // never resumable: the space comes back now
        }
        return std::nullopt;
    }
    bool local = false;
    if (const wchar_t* mismatch = store->Mismatch(local)) {
        g_updateLog.Stream() << L" PackageRejected:" << url << L" " << mismatch;
        failure.why = mismatch;
        failure.fullPackageCanMend = !local;
        store->Discard();
        return std::nullopt;
    }
    const InstallStart start = DecideInstallStart(quietWindow, LocalMinuteOfDay(), store->Size(), store->CanKeep());
    if (!start.start) {
        g_updateLog.Stream() << L" QuietHours:the quiet hours have begun, the installer is not started; "
                             << start.keepBytes << L" bytes kept for a later run";
        failure.why = L"the quiet hours have begun";
        failure.quietHoursBegan = true;
        store->KeepFirst(start.keepBytes);
        return std::nullopt;
    }
    WinResult<HeldFile> held = store->Finish(folder->Path(), order.fileName);
    if (!held.value) {
        g_updateLog.Stream() << L" PackageRejected:" << path << L" could not be held for reading (Windows error "
                             << static_cast<unsigned long>(held.status.Error()) << L")";
        failure.why = L"it could not be held";
        store->Discard();
        return std::nullopt;
    }
    return DownloadedPackage(std::move(*held.value), std::move(*folder));
}
