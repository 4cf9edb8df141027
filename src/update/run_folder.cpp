#include "update/run_folder.h"

#include "base/decimal_text.h"
#include "base/file_io.h"
#include "base/random.h"
#include "update/updater_registry.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr std::uint32_t kFolderNumbers = 32768;
constexpr int kFolderDraws = 8;

// %TEMP% followed by a number from 0 to 32767 without leading zeros: only such
// a folder is ever removed, whatever the registry says.
bool IsRunFolder(const std::wstring& folder)
{
    const std::wstring temp = TempFolder();
    if (temp.empty() || folder.size() <= temp.size() || folder.compare(0, temp.size(), temp) != 0) {
        return false;
    }
    const std::wstring number = folder.substr(temp.size());
    const std::optional<std::uint64_t> value = ParsePlainDecimal(number, kFolderNumbers - 1);
    return value && std::to_wstring(*value) == number;
}

}  // namespace

std::wstring CreateRunFolder()
{
    const std::wstring temp = TempFolder();
    if (temp.empty()) {
        return std::wstring();
    }
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        std::uint32_t number = 0;
        if (!RandomBelow(kFolderNumbers, number)) {
            return std::wstring();
        }
        const std::wstring folder = temp + std::to_wstring(number);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
        // Someone else's folder, or an earlier run's: what it holds is not ours to run.
    }
    return std::wstring();
}

bool RemoveRunFolder(const std::wstring& folder)
{
    if (!IsRunFolder(folder)) {
        return false;
    }
    WIN32_FIND_DATAW entry = {};
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            // Files only: a folder or a link inside is left, and so is the run folder.
            if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
                ::DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    if (::RemoveDirectoryW(folder.c_str())) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // gone already
}

void LeaveRunFolder(const std::wstring& folder)
{
    std::vector<std::wstring> left = ReadLeftFolders();
    if (std::find(left.begin(), left.end(), folder) == left.end()) {
        left.push_back(folder);
    }
    SaveLeftFolders(left);
}

void RemoveLeftRunFolders()
{
    const std::vector<std::wstring> left = ReadLeftFolders();
    if (left.empty()) {
        return;
    }
    std::vector<std::wstring> still;
    for (const std::wstring& folder : left) {
        // Not of our shape: forgotten, never touched.
        if (IsRunFolder(folder) && !RemoveRunFolder(folder)) {
            still.push_back(folder);
        }
    }
    SaveLeftFolders(still);
}
