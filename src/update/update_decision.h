// What one update cycle installs: nothing, a differential patch or the full package.
#pragma once

#include <windows.h>

constexpr int kUrlBufferChars = 2084;

// Reads "/v:" from the command line and the manifest's section "main".
// Returns 1 with bFullPackage 0 and patchUrl written, 1 with bFullPackage 1 and
// fullPackageUrl written (both buffers kUrlBufferChars, zero-filled by the caller),
// or 0 with neither written. Sends "OnUpdateAvailable;%s" on the patch branch.
int DecideUpdate(const wchar_t* commandLine, const wchar_t* manifestPath, wchar_t* patchUrl, int& bFullPackage,
                 wchar_t* fullPackageUrl);

// The manifest reader, shaped like GetPrivateProfileStringW (which DecideUpdate uses).
using ProfileReader = DWORD(WINAPI*)(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer,
                                     DWORD size, LPCWSTR path);

// DecideUpdate with the update server's base URL (ends in "update/") and the
// manifest reader given.
int DecideUpdateFor(const wchar_t* commandLine, const wchar_t* baseUrl, ProfileReader readProfile,
                    const wchar_t* manifestPath, wchar_t* patchUrl, int& bFullPackage, wchar_t* fullPackageUrl);
