// The working core of an update cycle: manifest, decision, package, installer.
#pragma once

#include <string>

// Leaves the outcome in g_nUpdateResult (unchanged when the manifest download
// fails). The command line gives "/v:" and "/installpath:".
void DownloadAndInstallUpdate(const wchar_t* commandLine);

// A new folder under the user's temporary directory named by a random number
// from 0 to 32767; returned without a trailing backslash.
std::wstring CreateDownloadDirectory();
