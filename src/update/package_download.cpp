#include "update/package_download.h"

#include "base/hex_text.h"
#include "base/sha256.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "net/http_exchange.h"
#include "net/retrying_transfer.h"
#include "update/package_location.h"
#include "update/partial_download.h"
#include "update/run_folder.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The bytes of one package as they arrive, across the tries of a run and across
// runs: written into a held file and, when the package is bound, hashed on the
// way, so bytes that arrive are never read a second time (only bytes kept from
// an earlier run are, once). Its lock is its own: a transfer given up while it
// writes is never waited for, only the next use of the store waits.
class PackageStore {
public:
    PackageStore(PartialDownload partial, const std::wstring& url, const std::optional<PackageBinding>& binding,
                 const std::wstring& directPath)
        : partial_(std::move(partial)), binding_(binding)
    {
        state_.url = url;
        if (binding_) {
            state_.size = binding_->size;
            state_.sha256 = LowerHex(binding_->sha256.data(), binding_->sha256.size());
        }
        // Without the partial download's folder, the package goes straight into the run folder.
        const std::wstring path = partial_.Usable() ? partial_.PartPath() : directPath;
        const std::optional<PartialState> kept = partial_.Usable() ? partial_.Load() : std::nullopt;
        // The same package: the same URL and, with keys, the same hash. Without
        // keys, only a validator can tell the server still has those bytes.
        if (kept && kept->url == url && kept->sha256 == state_.sha256 && (!binding_ || kept->size == state_.size) &&
            CanResume(*kept) && file_.Open(path, OPEN_EXISTING)) {
            const std::uint64_t bytes = file_.Size();
            if (bytes > 0 && bytes < kept->size && HashKept(bytes)) {
                state_ = *kept;
                written_ = bytes;
                return;
            }
        }
        if (!file_.Valid() && !file_.Open(path, CREATE_ALWAYS)) {
            openError_ = ::GetLastError();
        }
        Restart();
    }

    std::mutex mutex;  // taken by each use; never held by the watcher of a transfer

    std::uint64_t Kept() const { return written_; }

    // Range and If-Range when there are bytes to go on from; without keys only
    // a validator allows that, else the download starts again from zero.
    std::wstring RequestHeaders()
    {
        if (written_ > 0 && !CanResume(state_)) {
            Restart();
        }
        return written_ > 0 ? ResumeHeaders(written_, state_.validator) : L"";
    }

    // Forgets what is kept: the next answer starts from zero.
    void Restart()
    {
        partial_.ForgetState();
        if (file_.Valid() && !file_.Truncate()) {
            openError_ = ::GetLastError();
            file_.Close();
        }
        written_ = 0;
        hash_ = std::make_unique<Sha256>();
    }

    TransferEnd Begin(const ResponseHead& head)
    {
        if (!file_.Valid()) {
            ::SetLastError(openError_);
            return TransferEnd::LocalWriteFailed;
        }
        if (head.status == 206) {
            const bool lengthFits =
                head.contentLength ? *head.contentLength == state_.size - written_ : binding_.has_value();
            if (written_ == 0 || !lengthFits || !ContinuesAt(head.contentRange, written_, state_.size)) {
                return TransferEnd::RangeMismatch;
            }
            return TransferEnd::Complete;
        }
        // A whole body, used as it comes: whatever was kept goes.
        if (!binding_ && !head.contentLength) {
            return TransferEnd::NoLength;  // a body cut short could not be told from a whole one
        }
        if (binding_ && head.contentLength && *head.contentLength != binding_->size) {
            return TransferEnd::WrongLength;
        }
        Restart();
        if (!file_.Valid()) {
            ::SetLastError(openError_);
            return TransferEnd::LocalWriteFailed;
        }
        state_.validator = ChooseValidator(head.etag, head.lastModified);
        if (!binding_) {
            state_.size = *head.contentLength;
        }
        if (partial_.Usable() && !partial_.Save(state_)) {
            return TransferEnd::LocalWriteFailed;
        }
        return TransferEnd::Complete;
    }

    TransferEnd Write(const char* data, DWORD size)
    {
        if (size > state_.size - written_) {
            return TransferEnd::TooLarge;
        }
        if (!file_.Append(data, size)) {
            return TransferEnd::LocalWriteFailed;
        }
        written_ += size;
        if (binding_) {
            hash_->Update(data, size);
        }
        return TransferEnd::Complete;
    }

    // A bound package needs no length to be told whole: fewer bytes are a cut.
    TransferEnd End() const { return written_ < state_.size ? TransferEnd::ShortBody : TransferEnd::Complete; }

    // Whether what is kept after a failure is worth going on with next time.
    bool Resumable(const TransferOutcome& failed) const
    {
        const TransferEnd end = failed.end;
        return partial_.Usable() && written_ > 0 && CanResume(state_) && end != TransferEnd::LocalWriteFailed &&
               end != TransferEnd::TooLarge && end != TransferEnd::WrongLength && end != TransferEnd::BadLength &&
               end != TransferEnd::NoLength && end != TransferEnd::RangeMismatch;
    }

    // Why a completely downloaded package is not the one expected; null when it is.
    const wchar_t* Mismatch()
    {
        if (written_ != state_.size) {
            return L"its size differs from the one announced";
        }
        if (!binding_) {
            return nullptr;
        }
        unsigned char digest[32] = {};
        if (!hash_->Finish(digest)) {
            return L"could not hash it";
        }
        return std::equal(digest, digest + 32, binding_->sha256.begin()) ? nullptr
                                                                         : L"its SHA-256 differs from the manifest's";
    }

    // Keeps the bytes for the next try, in this run or a later one.
    void Keep() { file_.Close(); }
    // Deletes the bytes and their state, so the space comes back now.
    void Discard()
    {
        file_.Delete();
        partial_.ForgetState();
    }

    // The checked package, moved into its run folder and held for reading from there on.
    std::optional<HeldFile> Finish(const std::wstring& path)
    {
        if (file_.Path() != path && !file_.MoveTo(path)) {
            return std::nullopt;
        }
        partial_.ForgetState();
        if (!file_.KeepForReading()) {
            g_updateLog.Stream() << L" PackageRejected:" << path << L" someone else held it for writing";
            return std::nullopt;
        }
        return std::move(file_);
    }

private:
    bool CanResume(const PartialState& state) const { return binding_.has_value() || !state.validator.empty(); }

    // Hashes the bytes an earlier run kept, through the hold; false when they cannot be read.
    bool HashKept(std::uint64_t bytes)
    {
        hash_ = std::make_unique<Sha256>();
        if (!binding_) {
            return true;
        }
        std::vector<char> piece(1024 * 1024);
        for (std::uint64_t left = bytes; left > 0;) {
            DWORD read = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(left, piece.size()));
            if (!file_.Read(piece.data(), want, read) || read != want || !hash_->Update(piece.data(), read)) {
                return false;
            }
            left -= read;
        }
        return true;
    }

    PartialDownload partial_;  // a copy: a given-up transfer may outlive the caller's frame
    std::optional<PackageBinding> binding_;
    PartialState state_;
    std::uint64_t written_ = 0;  // bytes in the file, all of them hashed
    std::unique_ptr<Sha256> hash_;
    HeldFile file_;
    DWORD openError_ = 0;
};

// One try's view of the store. Once the try is over, a thread that was given up
// and wakes later finds the view cut, and touches nothing.
class AttemptSink : public ResponseSink {
public:
    explicit AttemptSink(std::shared_ptr<PackageStore> store) : store_(std::move(store)) {}

    TransferEnd Begin(const ResponseHead& head) override
    {
        std::lock_guard<std::mutex> hold(store_->mutex);
        return cut_ ? TransferEnd::Stalled : store_->Begin(head);
    }
    TransferEnd Write(const char* data, DWORD size) override
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
    const bool resumeRefused =
        tried.end == TransferEnd::RangeMismatch || (tried.end == TransferEnd::HttpStatus && tried.status == 416);
    {
        std::lock_guard<std::mutex> hold(store->mutex);
        if (!resumeRefused || store->Kept() == 0) {
            return tried;
        }
        store->Restart();  // not the bytes kept: from zero, at once
    }
    return get(LimitsBefore(bounded, deadline));
}

}  // namespace

DownloadedPackage::~DownloadedPackage()
{
    if (!folder_.empty()) {
        file_.Close();
        RemoveRunFolder(folder_);
    }
}

void DownloadedPackage::LeaveForLater()
{
    LeaveRunFolder(folder_);
    folder_.clear();
}

std::optional<DownloadedPackage> DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding,
                                                 std::wstring& why)
{
    std::wstring fileName;
    if (!HasHttpScheme(url) || !FileNameFromUrl(url, fileName) || !IsPlainFileName(fileName)) {
        why = L"the package URL is not usable";
        return std::nullopt;
    }
    const std::wstring folder = CreateRunFolder();
    if (folder.empty()) {
        g_updateLog.Stream() << L" NoPackageFolder:" << static_cast<unsigned long>(::GetLastError());
        why = L"no folder for it could be made";
        return std::nullopt;
    }
    const std::wstring path = JoinPackagePath(folder, fileName, MAX_PATH);
    if (path.empty()) {
        RemoveRunFolder(folder);
        why = L"its path would be too long";
        return std::nullopt;
    }
    g_updateLog.Stream() << L"szDownUrl:" << url << path;

    const auto store = std::make_shared<PackageStore>(PartialDownload(), url, binding, path);
    std::unique_lock<std::mutex> hold(store->mutex);
    if (store->Kept() > 0) {
        g_updateLog.Stream() << L" Resume:" << store->Kept() << L" bytes kept";
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
        why = DescribeTransferEnd(outcome, limits);
        if (store->Resumable(outcome)) {
            g_updateLog.Stream() << L" PackageKept:" << store->Kept() << L" bytes for the next try";
            store->Keep();
        } else {
            store->Discard();  // never resumable: the space comes back now
        }
        RemoveRunFolder(folder);
        return std::nullopt;
    }
    if (const wchar_t* mismatch = store->Mismatch()) {
        g_updateLog.Stream() << L" PackageRejected:" << url << L" " << mismatch;
        why = mismatch;
        store->Discard();
        RemoveRunFolder(folder);
        return std::nullopt;
    }
    std::optional<HeldFile> held = store->Finish(path);
    if (!held) {
        why = L"it could not be held";
        store->Discard();
        RemoveRunFolder(folder);
        return std::nullopt;
    }
    return DownloadedPackage(std::move(*held), folder);
}
