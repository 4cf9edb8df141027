// What tells one state of a file from another: its length, last-write time and
// file id, read without disturbing whoever else has it open.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

struct FileIdentity {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // FILETIME: 100-ns intervals since 1601, UTC
    DWORD volume = 0;             // the volume serial number
    std::uint64_t index = 0;      // the file index on that volume
};

// From a handle opened for reading that shares reading, writing and deletion,
// closed again at once; nothing of the file is read or changed. nullopt when
// it cannot be opened (missing, held against reading, a folder).
std::optional<FileIdentity> IdentifyFile(const std::wstring& path);
