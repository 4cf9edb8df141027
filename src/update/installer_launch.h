// Runs the product's installer on a downloaded package and waits for it.
#pragma once

// setup.exe from the module directory with --install-archive=<package>;
// 1 when it ran to its end with exit code 0, else 0.
int RunPatchArchiveFile(const wchar_t* packagePath);

// The downloaded package itself, given the "/installpath:" folder of the
// command line (which must exist); 1 when it ran to its end with exit code 0, else 0.
int RunFullInstaller(const wchar_t* commandLine, const wchar_t* packagePath);
