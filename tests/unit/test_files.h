// Files for the unit tests: a scratch folder under the Windows temp folder that
// goes away with everything in it, and reading a file back.
#pragma once

#include "base/file_io.h"
#include "base/handle_owner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

inline void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry = {};
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring full = path + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(full);
            } else {
                ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(full.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

// A fresh folder (optionally with a folder of a given name inside it), removed
// with all it holds.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& innerName = std::wstring())
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        root_ = std::wstring(temp) + L"velmar-unit-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        RemoveTree(root_);
        ::CreateDirectoryW(root_.c_str(), nullptr);
        path_ = root_;
        if (!innerName.empty()) {
            path_ += L"\\" + innerName;
            ::CreateDirectoryW(path_.c_str(), nullptr);
        }
    }
    ~ScratchFolder() { RemoveTree(root_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }

    // Writes the bytes to a file in the folder and returns its full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes)
    {
        const std::wstring file = path_ + L"\\" + name;
        EXPECT_TRUE(WriteWholeFile(file, bytes));
        return file;
    }

    // A path in the folder with no file behind it.
    std::wstring Missing(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring root_;
    std::wstring path_;
};

// The whole file, or "<missing>" when it cannot be opened.
inline std::string ReadFileBytes(const std::wstring& path)
{
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!file.Valid()) {
        return "<missing>";
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read != 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}
