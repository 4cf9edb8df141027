#include "base/held_ancestors.h"

#include <shlwapi.h>

WinStatus HeldAncestors::Hold(const std::wstring& folder)
{
    holds_.clear();
    const wchar_t* afterRoot = ::PathSkipRootW(folder.c_str());
    if (afterRoot == nullptr) {
        return WinStatus(ERROR_BAD_PATHNAME);
    }
    // Each prefix that ends before a backslash, and the whole path unless it ends in one.
    for (std::size_t end = static_cast<std::size_t>(afterRoot - folder.c_str()); end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != L'\\') {
            continue;
        }
        if (end > 0 && folder[end - 1] == L'\\') {
            continue;  // the root itself, or a trailing backslash
        }
        HandleOwner hold(::CreateFileW(folder.substr(0, end).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!hold.Valid()) {
            const WinStatus failed = WinStatus::LastError();
            holds_.clear();
            return failed;
        }
        holds_.push_back(std::move(hold));
    }
    return WinStatus();
}

std::vector<HANDLE> HeldAncestors::Handles() const
{
    std::vector<HANDLE> handles;
    for (const HandleOwner& hold : holds_) {
        handles.push_back(hold.Get());
    }
    return handles;
}
