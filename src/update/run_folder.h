// The folder a run makes for its package, %TEMP%\<0..32767>, and its removal:
// after the installer, or by a later run when the installer outlived its run.
#pragma once

#include <string>

// Makes a new folder; a number that exists already is drawn again, a few
// times, never reused. Empty when none could be made (GetLastError() says why).
std::wstring CreateRunFolder();

// Removes the files in a run folder, then the folder; false when something
// still holds it. Nothing but a folder of that shape is touched.
bool RemoveRunFolder(const std::wstring& folder);

// Records a folder an installer still holds, for a later run to remove.
void LeaveRunFolder(const std::wstring& folder);

// Removes the folders earlier runs recorded, where nothing holds them any more.
void RemoveLeftRunFolders();
