// The one partial package download this user keeps between runs, in a folder
// of our own under the temporary directory: the bytes received so far and what
// is needed to go on with them.
#pragma once

#include "base/win_status.h"

#include <cstdint>
#include <optional>
#include <string>

struct PartialState {
    std::wstring url;
    std::wstring validator;   // the answer's strong ETag, else its Last-Modified; empty when neither
    std::uint64_t size = 0;   // the whole package's length
    std::wstring sha256;      // with keys: the manifest's hash of it, in hex
};

// Text of the state file and back: one "name=value" line each; nullopt when a
// line is missing or malformed.
std::string FormatPartialState(const PartialState& state);
std::optional<PartialState> ParsePartialState(const std::string& text);

// Where the kept bytes and their state live: %TEMP%\VelmarUpdate\<name>.part
// and <name>.state, one pair for each kind of package, so neither undoes the
// other's. The part file itself is written through a HeldFile. Every file here
// is opened, written and deleted only once proven a plain file of ours
// (base/plain_file.h): a link or a hard link at one of these names is left
// alone, and the package then comes without resume.
class PartialDownload {
public:
    // Makes the folder when missing, removing what stands in the way where it
    // can; Usable() is false when it cannot be had (then nothing is kept).
    explicit PartialDownload(const std::wstring& name);
    bool Usable() const { return !folder_.empty(); }
    const std::wstring& Folder() const { return folder_; }
    std::wstring PartName() const { return name_ + L".part"; }
    std::wstring StateName() const { return name_ + L".state"; }
    // What stands at one of its names is not ours after all (why: the error
    // met): logged, and nothing is kept from here on.
    void GiveUp(const std::wstring& fileName, const WinStatus& why);

    std::optional<PartialState> Load() const;
    WinStatus Save(const PartialState& state) const;
    // Deletes the state: the part file no longer goes with it.
    void ForgetState() const;

private:
    std::wstring name_;
    std::wstring folder_;
};

// Removes %TEMP%\VelmarUpdate when it holds nothing (and is a plain folder).
void RemoveEmptyPartialFolder();
