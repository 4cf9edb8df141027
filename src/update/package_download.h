// The package of an update: a folder this run creates, and the download into it.
#pragma once

#include "update/manifest.h"

#include <optional>
#include <string>

// Downloads the package URL, by way of the partial download that survives a
// broken line (update/partial_download.h), into a folder this run creates
// under the user's temporary directory: a random number from 0 to 32767, drawn
// again when it exists, never reused. path receives the file, under its own
// name. binding: with keys, the size and SHA-256 the signed manifest gives it,
// which the download must match exactly (the size is also its limit). False,
// with no run folder left, when the URL or its name is unusable, no folder
// could be made, the download failed or the package is not the one expected.
bool DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding, std::wstring& path);
