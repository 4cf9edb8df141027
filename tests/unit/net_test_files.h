// Scratch files for the network-side unit tests, under the Windows temp folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh folder (optionally with a name of its own inside it) removed with its files.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& innerName = std::wstring())
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        root_ = std::wstring(temp) + L"velmar-net-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        ::CreateDirectoryW(root_.c_str(), nullptr);
        path_ = root_;
        if (!innerName.empty()) {
            path_ += L"\\" + innerName;
            ::CreateDirectoryW(path_.c_str(), nullptr);
        }
    }
    ~ScratchFolder()
    {
        for (const auto& file : files_) {
            ::DeleteFileW(file.c_str());
        }
        if (path_ != root_) {
            ::RemoveDirectoryW(path_.c_str());
        }
        ::RemoveDirectoryW(root_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }

    // Writes the bytes to a file in the folder and returns its full path.
    std::wstring Write(const std::wstring& name, const std::string& bytes)
    {
        const std::wstring file = path_ + L"\\" + name;
        HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, handle);
        DWORD written = 0;
        if (!bytes.empty()) {
            EXPECT_TRUE(::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        }
        ::CloseHandle(handle);
        files_.push_back(file);
        return file;
    }

    // A path in the folder with no file behind it.
    std::wstring Missing(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring root_;
    std::wstring path_;
    std::vector<std::wstring> files_;
};

inline std::string Bytes(const std::vector<char>& data) { return std::string(data.begin(), data.end()); }
