// The package of an update: a folder this run creates, and the download into it.
#pragma once

#include "update/manifest.h"

#include <optional>
#include <string>

// A new folder under the user's temporary directory named by a random number
// from 0 to 32767, created by this call: a name that exists already is drawn
// again, a few times, and never used. Empty when none could be made.
std::wstring CreatePackageFolder();

// Downloads the package URL into a fresh folder under its own file name; path
// receives the file. binding: with keys, the size and SHA-256 the signed
// manifest gives it, which the download must match exactly (the size is also
// its limit). False, with nothing left in the folder, when the URL or its name
// is unusable, no folder could be made, the download failed or the package is
// not the one bound.
bool DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding, std::wstring& path);
