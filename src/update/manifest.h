// The update server's manifest, version.ini: fetched into a temporary file,
// checked, and read.
#pragma once

#include "update/manifest_rules.h"
#include "update/update_decision.h"
#include "update/update_keys.h"

#include <windows.h>

#include <optional>
#include <string>

enum class ManifestFetch {
    Fetched,      // downloaded whole and, with keys, signed by one of them
    Unavailable,  // could not be downloaded: as if the server were away
    Rejected,     // its signature is missing or wrong: someone answers who must not
};

// Downloads the manifest URL into a new "ov<hex>.tmp" in the temporary folder; path receives its name.
ManifestFetch FetchManifest(const std::wstring& url, const UpdateKeys& keys, std::wstring& path);

// The reader of the manifest file, shaped like GetPrivateProfileStringW.
using ProfileReader = DWORD(WINAPI*)(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                     DWORD size, LPCWSTR path);

// One value; nullopt when it is absent or longer than maxChars (never cut and used).
std::optional<std::wstring> ReadManifestValue(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                              std::size_t maxChars, ProfileReader reader = &::GetPrivateProfileStringW);

// The values of section "main" that the decision needs.
ManifestValues ReadManifestValues(const std::wstring& path, ProfileReader reader = &::GetPrivateProfileStringW);

// A signed manifest's serial and expiry, against the clock and the highest
// serial this user accepted before; an accepted serial is stored at once. False,
// with one log entry naming the reason, when the manifest is refused.
bool AcceptSignedManifest(const std::wstring& path);

// What a signed manifest binds a package to: its exact size and SHA-256.
struct PackageBinding {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// The [size] and [sha256] entries of the package named `manifestKey`;
// nullopt when either is missing or malformed.
std::optional<PackageBinding> ReadPackageBinding(const std::wstring& path, const std::wstring& manifestKey);
