// Where a downloaded package may go: checks on the package URL and its file name,
// so a manifest can never make the updater write outside its fresh folder.
#pragma once

#include "base/plain_file.h"

#include <optional>
#include <string>

// The name a package URL gives its download: an http or https URL whose last
// part is a plain file name (IsPlainFileName); nullopt when it cannot be fetched into a run folder.
std::optional<std::wstring> PackageFileName(const std::wstring& url);

// Everything after the last slash of the URL; false when the URL holds no slash.
bool FileNameFromUrl(const std::wstring& url, std::wstring& fileName);

// Folder + "\" + name when it fits a path buffer of `bufferChars` characters
// (terminator included); empty otherwise.
std::wstring JoinPackagePath(const std::wstring& folder, const std::wstring& fileName, std::size_t bufferChars);
