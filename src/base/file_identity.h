// What tells one state of a file from another: its length, last-write time and
// file id, read without disturbing whoever else has it open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// What tells one file or folder from another, whatever stands at its path later.
struct FileId {
    DWORD volume = 0;         // the volume serial number
    std::uint64_t index = 0;  // the file index on that volume
    bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
};
std::optional<FileId> FileIdOf(HANDLE opened);

struct FileIdentity {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // FILETIME: 100-ns intervals since 1601, UTC
    FileId id;
};

// From a handle opened for reading that shares reading, writing and deletion,
// closed again at once; nothing of the file is read or changed. nullopt when
// it cannot be opened (missing, held against reading, a folder).
std::optional<FileIdentity> IdentifyFile(const std::wstring& path);
