// A file this process writes and keeps hold of: while it is open, other
// programs may read it but not write, rename or delete it, so what was written
// and checked is what stays there.
#pragma once

#include "base/handle_owner.h"
#include "base/plain_file.h"
#include "base/win_status.h"

#include <windows.h>

#include <cstdint>
#include <string>

class HeldFile {
public:
    HeldFile() = default;
    HeldFile(HeldFile&&) = default;
    HeldFile& operator=(HeldFile&&) = default;

    // Each call that can fail says why in its status.

    // Opens folder\name for reading, writing and deletion, shared for reading
    // only, once proven a plain file of ours (OpenPlain); disposition is
    // OPEN_EXISTING or CREATE_NEW.
    WinStatus Open(const std::wstring& folder, const std::wstring& name, DWORD disposition);
    bool Valid() const { return handle_.Valid(); }
    std::wstring Path() const { return JoinedPath(folder_, name_); }
    HANDLE Handle() const { return handle_.Get(); }

    std::uint64_t Size() const;
    // Reads from the start, piece by piece: for bytes an earlier run kept.
    WinStatus Read(void* buffer, DWORD size, DWORD& got);
    // Writes at the end.
    WinStatus Append(const void* data, std::size_t size);
    // Cut to its first `size` bytes (0: none).
    WinStatus Truncate(std::uint64_t size = 0);
    // Renames the file into folder\name while it stays held; the target must not exist.
    WinStatus MoveTo(const std::wstring& folder, const std::wstring& name);
    // Deletes the file and lets it go.
    void Delete();
    // Lets the file go; it stays on disk.
    void Close() { handle_.Reset(); }

    // Trades write access for a hold that still lets others read, so an
    // installer that opens the file for reading with FILE_SHARE_READ only (or
    // runs it) can. Windows cannot take write access from an open handle: the
    // bytes are locked against writes while the one handle is traded for the
    // other, both reopened from the handle itself. Wine reopens by path, and
    // another program could rename the file and put another at its path while
    // the writing handle is gone: so the file held at the end, and the one its
    // path names, must be the one written. Fails, with the file let go, when
    // they are not (ERROR_FILE_INVALID), when anyone else holds it for
    // writing, or keeps a lock on it for longer than a short wait.
    WinStatus KeepForReading();

    // For tests: called in the hand-over while only the lock's handle, which
    // shares everything, has the file open.
    static void (*handOverProbe)(const std::wstring& path);

private:
    HandleOwner handle_;
    std::wstring folder_;
    std::wstring name_;
};
