// The working core of an update cycle: manifest, decision, package, installer.
#pragma once

#include <string>

// Leaves the outcome in g_nUpdateResult (unchanged when the manifest download
// fails). The command line gives "/v:" and "/installpath:". With a public key
// (X then Y, 64 bytes) the manifest and the package are used only when their
// signatures check out; null: signatures are off.
void DownloadAndInstallUpdate(const wchar_t* commandLine, const unsigned char* updatePublicKey);

// A new folder under the user's temporary directory named by a random number
// from 0 to 32767; returned without a trailing backslash.
std::wstring CreateDownloadDirectory();
