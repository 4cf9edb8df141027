// The folder a run makes for its package, %TEMP%\<0..32767>: held from its
// creation until its installer is done, with %TEMP% and the folders above it,
// so no other program renames, moves or removes it, and recorded in LeftFolders from before its first byte until it
// is gone, so a later run removes what a killed or outlived run left.
#pragma once

#include "base/handle_owner.h"
#include "base/held_ancestors.h"
#include "base/plain_file.h"
#include "base/win_status.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A LeftFolders entry, "<path>|<volume>:<index>" in decimal, and back: the path,
// and the id when the entry ends in a well-formed one (an earlier build wrote
// the path alone).
std::wstring FormatFolderRecord(const std::wstring& path, const FileId& id);
std::wstring ParseFolderRecord(const std::wstring& record, std::optional<FileId>& id);

// Where run folders are recorded from their creation until they are gone; the
// cycle keeps the list (LeftFolders), the run folder only reads and writes it.
struct FolderRecords {
    // nullopt: a list is there but cannot be read (it is then taken for empty).
    std::optional<std::vector<std::wstring>> (*read)();
    // ERROR_SUCCESS, or why the list could not be stored.
    DWORD (*save)(const std::vector<std::wstring>& records);
};

class RunFolder {
public:
    // Makes a new folder (a number that exists already is drawn again, a few
    // times, never reused), holds it and records it; the error, with nothing
    // recorded, when that fails.
    static WinResult<RunFolder> Create(const FolderRecords& records);

    RunFolder(RunFolder&& other) noexcept;
    RunFolder& operator=(RunFolder&&) = delete;
    RunFolder(const RunFolder&) = delete;
    // Removes the plain files in it and the folder, and then its record; what
    // cannot be removed yet stays recorded for a later run.
    ~RunFolder();

    const std::wstring& Path() const { return path_; }
    // The handles that hold the folder and those above it; they share no delete access.
    std::vector<HANDLE> Holds() const;
    // Lets go without removing it: its installer still runs (and holds it).
    void LeaveForLater();

private:
    RunFolder(std::wstring path, const FileId& id, HandleOwner hold, HeldAncestors above,
              const FolderRecords& records);

    std::wstring path_;
    FileId id_;
    HandleOwner hold_;
    HeldAncestors above_;
    FolderRecords records_;
};

// Removes the folders recorded by earlier runs where nothing holds them any
// more. A record that is not a plain folder directly in %TEMP% with a run
// folder's name and the recorded id is dropped, with nothing touched, and
// logged (" LeftFolderSkipped:<path> <why>"); so is a folder that holds
// something other than plain files once these are gone (a folder, a link). A
// list that cannot be read is logged (" LeftFoldersUnreadable:").
void RemoveLeftRunFolders(const FolderRecords& records);
