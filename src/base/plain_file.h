// Files and folders of our own, opened only once proven plain: a plain name
// directly in its folder, no link of any kind, nothing reached through one.
// Wine lists a link to a file as a plain file, opens through a link even when
// told not to, and deletes what a link leads to: so the proof is where the
// opened handle really is, not what the path's attributes say.
#pragma once

#include "base/file_identity.h"
#include "base/handle_owner.h"
#include "base/win_status.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// What a refusal of something that is not proven plain fails with.
constexpr DWORD kNotPlainError = ERROR_BAD_PATHNAME;

// A name that stays inside its folder: not empty, not "." or "..", not a
// device (NUL, nul.exe, COM1...), and without \ / : * ? " < > | or control characters.
bool IsPlainFileName(const std::wstring& fileName);

// folder + name, with one backslash between them.
std::wstring JoinedPath(const std::wstring& folder, const std::wstring& name);

// Where an open file or folder really is, links resolved; empty when the system cannot say.
std::wstring FinalPathOf(HANDLE file);

// Why an open handle is not the plain file (or, folderWanted, the plain
// folder) `name` directly in `folder`; null when it is. A plain file has one
// link only. The path's attributes must show no reparse point, and where the
// handle really is must be the folder's own child.
const wchar_t* NotPlainEntry(HANDLE opened, const std::wstring& folder, const std::wstring& name, bool folderWanted);

// Opens folder\name (OPEN_EXISTING, or CREATE_NEW: never through whatever
// stands there) and proves it plain; otherwise nothing stays open and the
// status says why (kNotPlainError when it is not plain).
WinResult<HandleOwner> OpenPlain(const std::wstring& folder, const std::wstring& name, DWORD access, DWORD share,
                                 DWORD disposition, bool folderWanted = false);

// Deletes folder\name through a handle proven plain, never by its path: a
// file, or a folder when it is empty. Succeeds when nothing stands there.
WinStatus DeletePlain(const std::wstring& folder, const std::wstring& name, bool isFolder = false);
