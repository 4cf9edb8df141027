// The folders above a path, held so that no other program renames, moves or
// removes any of them while files below are used by their paths. Windows
// refuses to rename a folder while a file inside it is open; Wine does not, so
// there %TEMP% could be renamed away and another file put at a held package's
// path, between its checks and its installer's start.
#pragma once

#include "base/handle_owner.h"
#include "base/win_status.h"

#include <windows.h>

#include <string>
#include <vector>

class HeldAncestors {
public:
    // Holds folder and every folder above it, up to the drive's root (or the
    // share), each sharing no delete access; the first failure, with none held.
    WinStatus Hold(const std::wstring& folder);
    std::vector<HANDLE> Handles() const;

private:
    std::vector<HandleOwner> holds_;
};
