#include "update/package_download.h"

#include "base/file_io.h"
#include "base/handle_owner.h"
#include "base/random.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "net/http_exchange.h"
#include "net/retrying_transfer.h"
#include "update/package_location.h"
#include "update/partial_download.h"
#include "update/signature_check.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t kFolderNumbers = 32768;
constexpr int kFolderDraws = 8;

std::wstring HexOf(const Sha256Digest& digest)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring hex;
    for (const unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

// Writes the package into the partial download, across the tries of a run and
// across runs, and, when it is bound, hashes it on the way: bytes that arrive
// are never read a second time (only bytes kept from an earlier run are, once).
class PackageSink : public ResponseSink {
public:
    PackageSink(const PartialDownload& partial, const std::wstring& url, const std::optional<PackageBinding>& binding)
        : partial_(partial), binding_(binding)
    {
        state_.url = url;
        if (binding_) {
            state_.size = binding_->size;
            state_.sha256 = HexOf(binding_->sha256);
        }
        const std::optional<PartialState> kept = partial_.Load();
        const std::uint64_t bytes = partial_.KeptBytes();
        // The same package: the same URL and, with keys, the same hash. Without
        // keys, only a strong validator can tell the server still has those bytes.
        if (kept && kept->url == url && kept->sha256 == state_.sha256 && (!binding_ || kept->size == state_.size) &&
            (binding_ || !kept->validator.empty()) && bytes > 0 && bytes < kept->size && HashKept(bytes)) {
            state_ = *kept;
            written_ = bytes;
        } else {
            partial_.Discard();  // another package's, or nothing to go on with
            hash_ = std::make_unique<Sha256>();
        }
    }

    std::uint64_t Kept() const { return written_; }

    // Range and If-Range when there are bytes to go on from.
    std::wstring RequestHeaders() const { return written_ > 0 ? ResumeHeaders(written_, state_.validator) : L""; }

    // Forgets what is kept: the next answer starts from zero.
    void Restart()
    {
        partial_.Discard();
        written_ = 0;
        hash_ = std::make_unique<Sha256>();
    }

    TransferEnd Begin(const ResponseHead& head) override
    {
        file_.Reset();
        if (head.status == 206) {
            const bool lengthFits =
                head.contentLength ? *head.contentLength == state_.size - written_ : binding_.has_value();
            if (written_ == 0 || !lengthFits || !ContinuesAt(head.contentRange, written_, state_.size)) {
                return TransferEnd::RangeMismatch;
            }
            return Open(OPEN_EXISTING);
        }
        // A whole body, used as it comes: whatever was kept goes.
        if (!binding_ && !head.contentLength) {
            return TransferEnd::NoLength;  // a body cut short could not be told from a whole one
        }
        if (binding_ && head.contentLength && *head.contentLength != binding_->size) {
            return TransferEnd::WrongLength;
        }
        Restart();
        state_.validator = ChooseValidator(head.etag, head.lastModified);
        if (!binding_) {
            state_.size = *head.contentLength;
        }
        if (!partial_.Save(state_)) {
            return TransferEnd::LocalWriteFailed;
        }
        return Open(CREATE_ALWAYS);
    }

    TransferEnd Write(const char* data, DWORD size) override
    {
        if (size > state_.size - written_) {
            return TransferEnd::TooLarge;
        }
        if (!WriteAllBytes(file_.Get(), data, size)) {
            return TransferEnd::LocalWriteFailed;
        }
        written_ += size;
        if (binding_) {
            hash_->Update(data, size);
        }
        return TransferEnd::Complete;
    }

    // Whether what is kept after a failure is worth going on with next time.
    bool Resumable(const TransferOutcome& failed) const
    {
        const TransferEnd end = failed.end;
        return written_ > 0 && (binding_ || !state_.validator.empty()) && end != TransferEnd::LocalWriteFailed &&
               end != TransferEnd::TooLarge && end != TransferEnd::WrongLength && end != TransferEnd::BadLength &&
               end != TransferEnd::NoLength && end != TransferEnd::RangeMismatch;
    }

    // Why a completely downloaded package is not the one expected; null when it is.
    const wchar_t* Mismatch()
    {
        file_.Reset();
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

private:
    TransferEnd Open(DWORD disposition)
    {
        // Shared for deletion: a refusal may remove the file while it is open.
        file_.Reset(::CreateFileW(partial_.PartPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end = {};
        if (!file_.Valid() || !::SetFilePointerEx(file_.Get(), LARGE_INTEGER{}, &end, FILE_END) ||
            static_cast<std::uint64_t>(end.QuadPart) != written_) {
            return TransferEnd::LocalWriteFailed;
        }
        return TransferEnd::Complete;
    }

    // Hashes the bytes an earlier run kept; false when they cannot be read.
    bool HashKept(std::uint64_t bytes)
    {
        hash_ = std::make_unique<Sha256>();
        if (!binding_) {
            return true;
        }
        HandleOwner file(::CreateFileW(partial_.PartPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        std::vector<char> piece(1024 * 1024);
        for (std::uint64_t left = bytes; left > 0;) {
            DWORD read = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(left, piece.size()));
            if (!file.Valid() || !::ReadFile(file.Get(), piece.data(), want, &read, nullptr) || read != want ||
                !hash_->Update(piece.data(), read)) {
                return false;
            }
            left -= read;
        }
        return true;
    }

    const PartialDownload& partial_;
    std::optional<PackageBinding> binding_;
    PartialState state_;
    std::uint64_t written_ = 0;  // bytes in the part file, all of them hashed
    std::unique_ptr<Sha256> hash_;
    HandleOwner file_;
};

std::wstring CreatePackageFolder()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        std::uint32_t number = 0;
        if (!RandomBelow(kFolderNumbers, number)) {
            return std::wstring();
        }
        const std::wstring folder = temp + std::to_wstring(number);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
        // Someone else's folder, or an earlier run's: what it holds is not ours to run.
    }
    return std::wstring();
}

// The run folder is left as the run found it: empty, then gone.
bool RemoveRunFolder(const std::wstring& folder)
{
    ::RemoveDirectoryW(folder.c_str());
    return false;
}

}  // namespace

bool DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding, std::wstring& path)
{
    std::wstring fileName;
    if (!HasHttpScheme(url) || !FileNameFromUrl(url, fileName) || !IsPlainFileName(fileName)) {
        return false;
    }
    const std::wstring folder = CreatePackageFolder();
    if (folder.empty()) {
        g_updateLog.Stream() << L" NoPackageFolder:" << static_cast<unsigned long>(::GetLastError());
        return false;
    }
    path = JoinPackagePath(folder, fileName, MAX_PATH);
    const PartialDownload partial;
    if (path.empty() || !partial.Usable()) {
        return RemoveRunFolder(folder);
    }
    g_updateLog.Stream() << L"szDownUrl:" << url << path;

    const auto sink = std::make_shared<PackageSink>(partial, url, binding);
    if (sink->Kept() > 0) {
        g_updateLog.Stream() << L" Resume:" << sink->Kept() << L" bytes kept";
    }
    TransferLimits limits = DefaultTransferLimits();
    limits.maxBytes = binding ? binding->size : VELMAR_MAX_PACKAGE_BYTES;
    const std::uint64_t deadline = ::GetTickCount64() + VELMAR_PACKAGE_TIME_LIMIT_MS;
    const TransferOutcome outcome = RunWithRetries(limits, deadline, [&](const TransferLimits& bounded) {
        TransferOutcome tried = HttpGet(url, bounded, sink, sink->RequestHeaders());
        const bool resumeRefused = tried.end == TransferEnd::RangeMismatch ||
                                   (tried.end == TransferEnd::HttpStatus && tried.status == 416);
        if (resumeRefused && sink->Kept() > 0) {
            sink->Restart();  // not the bytes kept: from zero, at once
            tried = HttpGet(url, bounded, sink);
        }
        return tried;
    });
    if (!outcome.Complete()) {
        if (sink->Resumable(outcome)) {
            g_updateLog.Stream() << L" PackageKept:" << sink->Kept() << L" bytes for the next try";
        } else {
            partial.Discard();  // never resumable: the space comes back now
        }
        return RemoveRunFolder(folder);
    }
    if (const wchar_t* why = sink->Mismatch()) {
        g_updateLog.Stream() << L" PackageRejected:" << url << L" " << why;
        partial.Discard();
        return RemoveRunFolder(folder);
    }
    if (!partial.Finish(path)) {
        partial.Discard();
        return RemoveRunFolder(folder);
    }
    return true;
}
