// What one update cycle installs: nothing, a differential patch or the full package.
#pragma once

constexpr int kUrlBufferChars = 2084;

// Reads "/v:" from the process command line and the manifest's section "main".
// Returns 1 with bFullPackage 0 and patchUrl written, 1 with bFullPackage 1 and
// fullPackageUrl written (both buffers kUrlBufferChars, zero-filled by the caller),
// or 0 with neither written. Sends "OnUpdateAvailable;%s" on the patch branch.
int DecideUpdate(const wchar_t* manifestPath, wchar_t* patchUrl, int& bFullPackage, wchar_t* fullPackageUrl);
