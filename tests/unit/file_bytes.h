// Reads a whole file back for comparison; "<missing>" when it cannot be opened.
#pragma once

#include <windows.h>

#include <string>

inline std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0) {
        bytes.append(chunk, read);
    }
    ::CloseHandle(file);
    return bytes;
}
