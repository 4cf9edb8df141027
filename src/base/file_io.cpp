#include "base/file_io.h"

#include "base/handle_owner.h"

#include <algorithm>

WinStatus WriteAllBytes(HANDLE file, const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        // WriteFile takes a DWORD count.
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000u));
        DWORD written = 0;
        if (!::WriteFile(file, next, piece, &written, nullptr)) {
            return WinStatus::LastError();
        }
        if (written == 0) {
            return WinStatus(ERROR_WRITE_FAULT);
        }
        next += written;
        size -= written;
    }
    return WinStatus();
}

WinStatus WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() ? WriteAllBytes(file.Get(), bytes.data(), bytes.size()) : WinStatus::LastError();
}

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(temp, length);
}

bool IsExistingFolder(const std::wstring& path)
{
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
