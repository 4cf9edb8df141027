// The package of an update: a folder this run creates, the download into it,
// and the hold on both until its installer is done with them.
#pragma once

#include "base/held_file.h"
#include "update/manifest/manifest_value.h"
#include "update/package/run_folder.h"
#include "update/package/package_kind.h"
#include "update/policy/quiet_window.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// A package that passed every check, held so that nobody can write, rename or
// delete it, in its run folder, held as well; the folder goes with it, unless
// left for a later run.
class DownloadedPackage {
public:
    DownloadedPackage(HeldFile file, RunFolder folder) : folder_(std::move(folder)), file_(std::move(file)) {}
    DownloadedPackage(DownloadedPackage&&) = default;
    DownloadedPackage& operator=(DownloadedPackage&&) = delete;
    DownloadedPackage(const DownloadedPackage&) = delete;

    std::wstring Path() const { return file_.Path(); }
    // The handle that holds it: checks read through it, so what they check is what runs.
    HANDLE File() const { return file_.Handle(); }
    // What an installer that outlives its time limit is handed: the package and its folders stay held until it exits.
    std::vector<HANDLE> Holds() const;
    // The installer may still run: the folder stays recorded for a later run to remove.
    void LeaveForLater();

private:
    RunFolder folder_;  // declared first: it goes after the file is let go
    HeldFile file_;
};

// Why a package was not had, for the log and for the choice of what comes next.
struct PackageFailure {
    std::wstring why;                 // in a few words
    bool fullPackageCanMend = false;  // see FullPackageCanMend
    bool quietHoursBegan = false;     // checked, but the quiet hours began: kept for a later run
};

// A package to fetch, as the cycle checked it before asking for anything.
struct PackageOrder {
    PackageKind kind = PackageKind::None;
    std::wstring url;                       // http or https
    std::wstring fileName;                  // the plain name it gets in its run folder (PackageFileName)
    std::optional<PackageBinding> binding;  // with keys: the size and SHA-256 it must have exactly
};

// Downloads the package, by way of the kind's own partial download that
// survives a broken line (partial_download.h), into a run folder
// (run_folder.h), recorded in folderRecords. With a binding, the download must
// match it exactly (its size is also the limit). Right before it is handed
// over for its installer, the quiet hours are checked again (see
// DecideInstallStart). nullopt, with no run folder left, when no folder could
// be made, the download failed, the package is not the one expected or cannot
// be held, or the quiet hours have begun; `failure` then says which.
std::optional<DownloadedPackage> DownloadPackage(const PackageOrder& order, const FolderRecords& folderRecords,
                                                 const std::optional<QuietWindow>& quietWindow,
                                                 PackageFailure& failure);
