#include "base/held_file.h"

#include "base/file_io.h"
#include "base/plain_file.h"

#include <vector>

namespace {

// How long the hand-over waits for another program's byte-range lock to go.
constexpr ULONGLONG kLockWaitMs = 2000;
constexpr DWORD kLockRetryMs = 50;

// A shared lock over every byte, tried again for a bounded time: a program
// that opened the file for reading may hold a lock, and must not hold us.
WinStatus LockAgainstWrites(HANDLE file)
{
    const ULONGLONG deadline = ::GetTickCount64() + kLockWaitMs;
    for (;;) {
        OVERLAPPED whole = {};
        if (::LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
            return WinStatus();
        }
        const WinStatus locked = WinStatus::LastError();
        if (locked.Error() != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline) {
            return locked;
        }
        ::Sleep(kLockRetryMs);
    }
}

// Once the read-only handle is open, nobody else can get write or delete
// access: the file it holds, and the one its path names, must be the one written.
WinStatus IsTheFileWritten(HANDLE held, const std::wstring& folder, const std::wstring& name, const FileId& written)
{
    const std::optional<FileId> heldId = FileIdOf(held);
    HandleOwner named(::CreateFileW(JoinedPath(folder, name).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const std::optional<FileId> namedId = named.Valid() ? FileIdOf(named.Get()) : std::nullopt;
    const bool same = heldId && namedId && *heldId == written && *namedId == written &&
                      NotPlainEntry(held, folder, name, false) == nullptr;
    return same ? WinStatus() : WinStatus(ERROR_FILE_INVALID);
}

}  // namespace

void (*HeldFile::handOverProbe)(const std::wstring& path) = nullptr;

WinStatus HeldFile::Open(const std::wstring& folder, const std::wstring& name, DWORD disposition)
{
    folder_ = folder;
    name_ = name;
    WinResult<HandleOwner> opened =
        OpenPlain(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, disposition);
    handle_ = opened.value ? std::move(*opened.value) : HandleOwner();
    return opened.status;
}

std::uint64_t HeldFile::Size() const
{
    LARGE_INTEGER size = {};
    return handle_.Valid() && ::GetFileSizeEx(handle_.Get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

WinStatus HeldFile::Read(void* buffer, DWORD size, DWORD& got)
{
    got = 0;
    return ::ReadFile(handle_.Get(), buffer, size, &got, nullptr) ? WinStatus() : WinStatus::LastError();
}

WinStatus HeldFile::Append(const void* data, std::size_t size)
{
    if (!::SetFilePointerEx(handle_.Get(), LARGE_INTEGER{}, nullptr, FILE_END)) {
        return WinStatus::LastError();
    }
    return WriteAllBytes(handle_.Get(), data, size);
}

WinStatus HeldFile::Truncate(std::uint64_t size)
{
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool cut = ::SetFilePointerEx(handle_.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_.Get());
    return cut ? WinStatus() : WinStatus::LastError();
}

WinStatus HeldFile::MoveTo(const std::wstring& folder, const std::wstring& name)
{
    const std::wstring path = JoinedPath(folder, name);
    // FILE_RENAME_INFO ends in the new name, of any length.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (path.size() + 1) * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    path.copy(rename->FileName, path.size());
    if (!::SetFileInformationByHandle(handle_.Get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return WinStatus::LastError();
    }
    folder_ = folder;
    name_ = name;
    return WinStatus();
}

void HeldFile::Delete()
{
    if (!handle_.Valid()) {
        return;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle_.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    handle_.Reset();
}

WinStatus HeldFile::KeepForReading()
{
    if (!handle_.Valid()) {
        return WinStatus(ERROR_INVALID_HANDLE);
    }
    const std::optional<FileId> written = FileIdOf(handle_.Get());
    if (!written) {
        const WinStatus unknown = WinStatus::LastError();
        handle_.Reset();
        return unknown;
    }
    // Reopened from the handle, not by path where the system keeps to that. The
    // bridge shares everything, so it opens beside ours, and its lock keeps
    // writers out while our writing handle closes.
    HandleOwner bridge(
        ::ReOpenFile(handle_.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0));
    const WinStatus locked = bridge.Valid() ? LockAgainstWrites(bridge.Get()) : WinStatus::LastError();
    if (!locked) {
        handle_.Reset();
        return locked;
    }
    handle_.Reset();
    if (handOverProbe != nullptr) {
        handOverProbe(Path());
    }
    // Shared for reading only: this open fails while anyone else may write or delete it.
    handle_.Reset(::ReOpenFile(bridge.Get(), GENERIC_READ, FILE_SHARE_READ, 0));
    WinStatus reopened = handle_.Valid() ? WinStatus() : WinStatus::LastError();
    if (reopened) {
        reopened = IsTheFileWritten(handle_.Get(), folder_, name_, *written);
    }
    OVERLAPPED start = {};
    ::UnlockFileEx(bridge.Get(), 0, MAXDWORD, MAXDWORD, &start);
    if (!reopened) {
        handle_.Reset();
    }
    return reopened;
}
