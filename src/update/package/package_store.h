// The bytes of one package as they arrive, across the tries of a run and across
// runs: written into a held file and, when the package is bound, hashed on a
// thread of its own as they are written, so the hash keeps pace beside the
// transfer and bytes that arrive are never read a second time (only bytes kept
// from an earlier run are, once). Its lock is its own: a transfer given up
// while it writes is never waited for, only the next use of the store waits
// (a write waits for the hash a bounded time).
#pragma once

#include "base/held_file.h"
#include "base/piece_pipe.h"
#include "net/http_exchange.h"
#include "update/manifest/manifest_value.h"
#include "update/package/partial_download.h"
#include "update/package/resume_rules.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class PackageStore {
public:
    // Goes on with the bytes the partial download kept when they are of the
    // same package; without the partial download, writes to directFolder\fileName.
    PackageStore(PartialDownload partial, const std::wstring& url, const std::optional<PackageBinding>& binding,
                 const std::wstring& directFolder, const std::wstring& fileName);

    std::mutex mutex;  // taken by each use; never held by the watcher of a transfer

    // What is kept so far, as the resume rules judge it.
    KeptBytes Kept() const;
    std::uint64_t Size() const { return state_.size; }

    // Range and If-Range when there are bytes to go on from (see DecideResume),
    // else the download starts again from zero.
    std::wstring RequestHeaders();
    // Forgets what is kept: the next answer starts from zero.
    void Restart();

    SinkStep Begin(const ResponseHead& head);
    SinkStep Write(const char* data, DWORD size);
    // A bound package needs no length to be told whole: fewer bytes are a cut.
    TransferEnd End() const { return written_ < state_.size ? TransferEnd::ShortBody : TransferEnd::Complete; }

    // Whether a request that ended at its head (a 206 that does not continue,
    // a 416) is to be made again at once, from zero.
    bool StartsAgain(const TransferOutcome& tried) const;
    // Whether what is kept after a failure is worth going on with next time.
    bool Resumable(const TransferOutcome& failed) const;
    // Whether these bytes could be resumed at all by a later run.
    bool CanKeep() const { return partial_.Usable() && CanResume(Kept()); }
    // Why a completely downloaded package is not the one expected; null when it
    // is. local: the fault is this machine's (it could not be hashed).
    const wchar_t* Mismatch(bool& local);

    // Keeps the bytes for the next try, in this run or a later one.
    void Keep() { file_.Close(); }
    // Keeps only the first `bytes` (none: discards them) for a later run.
    void KeepFirst(std::uint64_t bytes);
    // Deletes the bytes and their state, so the space comes back now.
    void Discard();

    // The checked package, moved into its run folder as folder\name and held
    // for reading from there on; the error when either fails.
    WinResult<HeldFile> Finish(const std::wstring& folder, const std::wstring& name);

private:
    WinStatus CreateAnew(const std::wstring& folder, const std::wstring& name);
    // Hashes the bytes an earlier run kept, through the hold; false when they cannot be read.
    bool HashKept(std::uint64_t bytes);

    PartialDownload partial_;  // a copy: a given-up transfer may outlive the caller's frame
    std::optional<PackageBinding> binding_;
    PartialState state_;
    std::uint64_t written_ = 0;  // bytes in the file, all of them fed to the hash
    std::unique_ptr<Sha256Pipe> hash_;  // bound packages only
    HeldFile file_;
    WinStatus fileStatus_;  // why file_ could not be had, when it is not valid
};
