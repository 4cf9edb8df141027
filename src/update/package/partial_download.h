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
// other's. The part file itself is written through a HeldFile.
class PartialDownload {
public:
    // Makes the folder when missing, removing what stands in the way where it
    // can; Usable() is false when it cannot be had (then nothing is kept).
    explicit PartialDownload(const std::wstring& name);
    bool Usable() const { return !folder_.empty(); }
    std::wstring PartPath() const { return folder_ + L"\\" + name_ + L".part"; }

    std::optional<PartialState> Load() const;
    WinStatus Save(const PartialState& state) const;
    // Deletes the state: the part file no longer goes with it.
    void ForgetState() const;

private:
    std::wstring StatePath() const { return folder_ + L"\\" + name_ + L".state"; }
    std::wstring name_;
    std::wstring folder_;
};
