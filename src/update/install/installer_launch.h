// Runs the product's installer on a downloaded package and waits for it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class InstallerResult {
    Succeeded,     // ran to its end with exit code 0
    Failed,        // ran to its end with another exit code
    NotStarted,    // could not be started (or no install folder for a full package)
    StillRunning,  // outlived its time limit: no longer waited for, it may still be at work
};

// holds: the handles that keep the package and its folder; an installer that
// outlives its time limit is given copies, so they stay held until it exits.

// setup.exe from the module directory with --install-archive=<package>.
InstallerResult RunPatchArchiveFile(const std::wstring& packagePath, const std::vector<HANDLE>& holds);

// The downloaded package itself, given the install folder (which must exist).
InstallerResult RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath,
                                 const std::vector<HANDLE>& holds);
