// Runs the product's installer on a downloaded package and waits for it.
#pragma once

#include <string>

// setup.exe from the module directory with --install-archive=<package>;
// true when it ran to its end with exit code 0.
bool RunPatchArchiveFile(const std::wstring& packagePath);

// The downloaded package itself, given the install folder (which must exist);
// true when it ran to its end with exit code 0.
bool RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath);
