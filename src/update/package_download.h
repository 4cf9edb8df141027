// The package of an update: a folder this run creates, the download into it,
// and the hold on the file until its installer is done with it.
#pragma once

#include "base/held_file.h"
#include "update/manifest_text.h"

#include <optional>
#include <string>
#include <utility>

// A package that passed every check, held so that nobody can write, rename or
// delete it; its run folder goes with it, unless left for a later run.
class DownloadedPackage {
public:
    DownloadedPackage(HeldFile file, std::wstring folder) : file_(std::move(file)), folder_(std::move(folder)) {}
    DownloadedPackage(DownloadedPackage&& other) noexcept
        : file_(std::move(other.file_)), folder_(std::exchange(other.folder_, std::wstring()))
    {
    }
    DownloadedPackage& operator=(DownloadedPackage&&) = delete;
    DownloadedPackage(const DownloadedPackage&) = delete;
    ~DownloadedPackage();

    const std::wstring& Path() const { return file_.Path(); }
    // The installer may still run: the folder is recorded for a later run to remove.
    void LeaveForLater();

private:
    HeldFile file_;
    std::wstring folder_;
};

// Downloads the package URL, by way of the partial download that survives a
// broken line (update/partial_download.h), into a folder this run creates
// under the user's temporary directory: a random number from 0 to 32767, drawn
// again when it exists, never reused. binding: with keys, the size and SHA-256
// the signed manifest gives it, which the download must match exactly (the
// size is also its limit). nullopt, with no run folder left, when the URL or
// its name is unusable, no folder could be made, the download failed or the
// package is not the one expected; `why` then says so in a few words.
std::optional<DownloadedPackage> DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding,
                                                 std::wstring& why);
