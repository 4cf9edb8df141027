#include "base/held_file.h"

#include "base/file_io.h"

#include <vector>

namespace {

bool SameFile(HANDLE first, HANDLE second)
{
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    return ::GetFileInformationByHandle(first, &a) && ::GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool HeldFile::Open(const std::wstring& path, DWORD disposition)
{
    handle_.Reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    path_ = path;
    return handle_.Valid();
}

std::uint64_t HeldFile::Size() const
{
    LARGE_INTEGER size = {};
    return handle_.Valid() && ::GetFileSizeEx(handle_.Get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool HeldFile::Read(void* buffer, DWORD size, DWORD& got)
{
    got = 0;
    return ::ReadFile(handle_.Get(), buffer, size, &got, nullptr) != 0;
}

bool HeldFile::Append(const void* data, std::size_t size)
{
    return ::SetFilePointerEx(handle_.Get(), LARGE_INTEGER{}, nullptr, FILE_END) &&
           WriteAllBytes(handle_.Get(), data, size);
}

bool HeldFile::Truncate()
{
    return ::SetFilePointerEx(handle_.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle_.Get());
}

bool HeldFile::MoveTo(const std::wstring& path)
{
    // FILE_RENAME_INFO ends in the new name, of any length.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (path.size() + 1) * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    path.copy(rename->FileName, path.size());
    if (!::SetFileInformationByHandle(handle_.Get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return false;
    }
    path_ = path;
    return true;
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

bool HeldFile::KeepForReading()
{
    if (!handle_.Valid()) {
        return false;
    }
    // A second handle that shares everything, so it can open beside ours, with
    // a shared lock over every byte: nobody writes while our handle closes.
    HandleOwner bridge(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED whole = {};
    const bool locked = bridge.Valid() && ::LockFileEx(bridge.Get(), 0, 0, MAXDWORD, MAXDWORD, &whole);
    const bool sameAsOurs = bridge.Valid() && SameFile(bridge.Get(), handle_.Get());
    handle_.Reset();
    // Shared for reading only: this open fails while anyone else may write or delete it.
    HandleOwner reader(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool same = locked && sameAsOurs && reader.Valid() && SameFile(reader.Get(), bridge.Get());
    if (locked) {
        OVERLAPPED start = {};
        ::UnlockFileEx(bridge.Get(), 0, MAXDWORD, MAXDWORD, &start);
    }
    if (!same) {
        return false;
    }
    handle_ = std::move(reader);
    return true;
}
