// Runs the product's installer on a downloaded package and waits for it.
#pragma once

#include <string>

enum class InstallerResult {
    Succeeded,     // ran to its end with exit code 0
    Failed,        // ran to its end with another exit code
    NotStarted,    // could not be started (or no install folder for a full package)
    StillRunning,  // outlived its time limit: no longer waited for, it may still be at work
};

// setup.exe from the module directory with --install-archive=<package>.
InstallerResult RunPatchArchiveFile(const std::wstring& packagePath);

// The downloaded package itself, given the install folder (which must exist).
InstallerResult RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath);
