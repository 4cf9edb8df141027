// The package of an update: a folder this run creates, and the download into it.
#pragma once

#include "update/update_keys.h"

#include <string>

// A new folder under the user's temporary directory named by a random number
// from 0 to 32767, created by this call: a name that exists already is drawn
// again, a few times, and never used. Empty when none could be made.
std::wstring CreatePackageFolder();

// Downloads the package URL into a fresh folder under its own file name; path
// receives the file. False (and nothing left to run) when the URL or its name
// is unusable, no folder could be made, or the download or its check failed.
bool DownloadPackage(const std::wstring& url, const UpdateKeys& keys, std::wstring& path);
