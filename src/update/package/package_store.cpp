#include "update/package/package_store.h"

#include "base/hex_text.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// How long a write, or the check at the end, waits for the hash to take bytes:
// far more than hashing the pipe's few MiB takes on any machine.
constexpr std::uint32_t kHashWaitMs = 10000;

// A fresh hash for a bound package; none without a binding.
std::unique_ptr<Sha256Pipe> NewHash(bool bound)
{
    return bound ? std::make_unique<Sha256Pipe>(kHashWaitMs) : nullptr;
}

}  // namespace

PackageStore::PackageStore(PartialDownload partial, const std::wstring& url,
                           const std::optional<PackageBinding>& binding, const std::wstring& directFolder,
                           const std::wstring& fileName)
    : partial_(std::move(partial)), binding_(binding)
{
    state_.url = url;
    if (binding_) {
        state_.size = binding_->size;
        state_.sha256 = LowerHex(binding_->sha256.data(), binding_->sha256.size());
    }
    // Without the partial download's folder, the package goes straight into the run folder.
    const std::wstring folder = partial_.Usable() ? partial_.Folder() : directFolder;
    const std::wstring name = partial_.Usable() ? partial_.PartName() : fileName;
    const std::optional<PartialState> kept = partial_.Usable() ? partial_.Load() : std::nullopt;
    // The same package: the same URL and, with keys, the same hash. Without
    // keys, only a validator can tell the server still has those bytes.
    if (kept && kept->url == url && kept->sha256 == state_.sha256 && (!binding_ || kept->size == state_.size) &&
        CanResume(KeptBytes{0, kept->size, !kept->validator.empty(), binding_.has_value()}) &&
        file_.Open(folder, name, OPEN_EXISTING)) {
        const std::uint64_t bytes = file_.Size();
        if (bytes > 0 && bytes < kept->size && HashKept(bytes)) {
            state_ = *kept;
            written_ = bytes;
            return;
        }
    }
    if (!file_.Valid()) {
        fileStatus_ = CreateAnew(folder, name);
        if (!fileStatus_ && partial_.Usable()) {
            partial_.GiveUp(name, fileStatus_);  // straight into the run folder, then
            fileStatus_ = CreateAnew(directFolder, fileName);
        }
    }
    Restart();
}

WinStatus PackageStore::CreateAnew(const std::wstring& folder, const std::wstring& name)
{
    // Never opened through whatever stands there: what stands goes first, if it is a plain file of ours.
    const WinStatus cleared = DeletePlain(folder, name);
    return cleared ? file_.Open(folder, name, CREATE_NEW) : cleared;
}

KeptBytes PackageStore::Kept() const
{
    return KeptBytes{written_, state_.size, !state_.validator.empty(), binding_.has_value()};
}

std::wstring PackageStore::RequestHeaders()
{
    if (DecideResume(Kept(), nullptr).action == ResumeAction::Keep) {
        return ResumeHeaders(written_, state_.validator);
    }
    if (written_ > 0) {
        Restart();
    }
    return L"";
}

void PackageStore::Restart()
{
    partial_.ForgetState();
    if (file_.Valid()) {
        fileStatus_ = file_.Truncate();
        if (!fileStatus_) {
            file_.Close();
        }
    }
    written_ = 0;
    hash_ = NewHash(binding_.has_value());
}

SinkStep PackageStore::Begin(const ResponseHead& head)
{
    if (!file_.Valid()) {
        return SinkStep(TransferEnd::LocalWriteFailed, fileStatus_.Error());
    }
    const ResumeDecision decision = DecideResume(Kept(), &head);
    switch (decision.action) {
    case ResumeAction::Append:
        return TransferEnd::Complete;
    case ResumeAction::Refuse:
        return decision.why;
    case ResumeAction::Keep:
    case ResumeAction::Restart:
        break;
    }
    if (head.status != 200) {
        return TransferEnd::RangeMismatch;  // the caller asks again from zero
    }
    if (written_ > 0) {
        Restart();  // nothing written yet: the file, the state and the hash are fresh already
    }
    if (!file_.Valid()) {
        return SinkStep(TransferEnd::LocalWriteFailed, fileStatus_.Error());
    }
    state_.validator = ChooseValidator(head.etag, head.lastModified);
    if (!binding_) {
        state_.size = *head.contentLength;
    }
    if (partial_.Usable()) {
        const WinStatus saved = partial_.Save(state_);
        if (saved.Error() == kNotPlainError || saved.Error() == ERROR_FILE_EXISTS) {
            partial_.GiveUp(partial_.StateName(), saved);  // not ours at its name: these bytes are not kept
        } else if (!saved) {
            return SinkStep(TransferEnd::LocalWriteFailed, saved.Error());
        }
    }
    return TransferEnd::Complete;
}

SinkStep PackageStore::Write(const char* data, DWORD size)
{
    if (size > state_.size - written_) {
        return TransferEnd::TooLarge;
    }
    if (const WinStatus appended = file_.Append(data, size); !appended) {
        return SinkStep(TransferEnd::LocalWriteFailed, appended.Error());
    }
    written_ += size;
    // A hash that cannot take the bytes ends the download: unhashed, they are never kept as checked.
    if (hash_ && !hash_->Update(data, size)) {
        return SinkStep(TransferEnd::LocalWriteFailed, hash_->Error());
    }
    return TransferEnd::Complete;
}

bool PackageStore::StartsAgain(const TransferOutcome& tried) const
{
    if (tried.end != TransferEnd::RangeMismatch && tried.end != TransferEnd::HttpStatus) {
        return false;
    }
    ResponseHead answer;  // all that is known of an answer that ended at its head
    answer.status = tried.status;
    return DecideResume(Kept(), &answer).action == ResumeAction::Restart;
}

bool PackageStore::Resumable(const TransferOutcome& failed) const
{
    const TransferEnd end = failed.end;
    return partial_.Usable() && written_ > 0 && CanResume(Kept()) && end != TransferEnd::LocalWriteFailed &&
           end != TransferEnd::TooLarge && end != TransferEnd::WrongLength && end != TransferEnd::BadLength &&
           end != TransferEnd::NoLength && end != TransferEnd::RangeMismatch;
}

const wchar_t* PackageStore::Mismatch(bool& local)
{
    local = false;
    if (written_ != state_.size) {
        return L"its size differs from the one announced";
    }
    if (!binding_) {
        return nullptr;
    }
    unsigned char digest[32] = {};
    if (!hash_->Finish(digest)) {
        local = true;
        return L"could not hash it";
    }
    return std::equal(digest, digest + 32, binding_->sha256.begin()) ? nullptr
                                                                     : L"its SHA-256 differs from the manifest's";
}

void PackageStore::KeepFirst(std::uint64_t bytes)
{
    if (bytes > 0 && file_.Truncate(bytes)) {
        Keep();
    } else {
        Discard();
    }
}

void PackageStore::Discard()
{
    file_.Delete();
    partial_.ForgetState();
}

WinResult<HeldFile> PackageStore::Finish(const std::wstring& folder, const std::wstring& name)
{
    if (file_.Path() != JoinedPath(folder, name)) {
        if (const WinStatus moved = file_.MoveTo(folder, name); !moved) {
            return WinResult<HeldFile>::Failed(moved);
        }
    }
    partial_.ForgetState();
    if (const WinStatus held = file_.KeepForReading(); !held) {
        return WinResult<HeldFile>::Failed(held);
    }
    return WinResult<HeldFile>::Of(std::move(file_));
}

bool PackageStore::HashKept(std::uint64_t bytes)
{
    hash_ = NewHash(binding_.has_value());
    if (!hash_) {
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
