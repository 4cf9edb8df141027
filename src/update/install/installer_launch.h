// Runs the product's installer on a downloaded package and waits for it.
#pragma once

#include "update/install/installer_publisher.h"

#include <windows.h>

#include <string>
#include <vector>

enum class InstallerResult {
    Succeeded,     // ran to its end with exit code 0
    Failed,        // ran to its end with another exit code
    NotStarted,    // could not be started (or no install folder for a full package)
    StillRunning,  // outlived its time limit: no longer waited for, it may still be at work
};

// Where the installers are and where they write their logs, as the cycle gives them.
struct InstallerPlaces {
    std::wstring setupExe;    // the patch installer, setup.exe in the updater's own folder
    std::wstring setupLog;    // its --log-file; empty when the log is off
    std::wstring installLog;  // the full installer's --log-file; empty when the log is off
};

// holds: the handles that keep the package and its folder; an installer that
// outlives its time limit is given copies, so they stay held until it exits.

// setup.exe with --install-archive=<package>.
InstallerResult RunPatchSetup(const std::wstring& packagePath, const InstallerPlaces& places,
                              const std::vector<HANDLE>& holds);

// Whether the full package may run: with pins, its publisher must pass
// CheckInstallerPublisher, read through heldFile, the handle that holds it
// against writes, renames and deletion from the check until its installer ends.
// A refusal is logged as " PackageRejected:<url> <why>".
bool MayRunFullInstaller(HANDLE heldFile, const std::wstring& packagePath, const std::wstring& url,
                         const PublisherPins& pins);

// The downloaded package itself, given the install folder (which must exist).
InstallerResult RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath,
                                 const InstallerPlaces& places, const std::vector<HANDLE>& holds);
