// Plain rules about a package between its download and its installer: whether
// the installer may start now, and which failures of a patch the full package
// can mend.
#pragma once

#include "net/transfer_rules.h"
#include "update/policy/quiet_window.h"

#include <cstdint>
#include <optional>

struct InstallStart {
    bool start = true;
    std::uint64_t keepBytes = 0;  // not started: the bytes kept for a later run (0: none)
};

// Asked right before an installer would start. Inside the quiet hours it does
// not start: the checked package is kept but for its last byte, so a later
// run fetches that byte (If-Range) and checks the whole again. Bytes that
// cannot be resumed (resumable false: no partial download, or without keys no
// validator) are not kept.
InstallStart DecideInstallStart(const std::optional<QuietWindow>& quietWindow, int minuteOfDay,
                                std::uint64_t packageBytes, bool resumable);

// Whether the full package can mend a patch download that failed so: the
// server has no such patch (404, 410) or, bound by the manifest, sends another
// size. Not a local failure, a time or size limit, or a transport failure
// after its retries: the full package would fail the same way, at greater cost.
bool FullPackageCanMend(const TransferOutcome& failed, bool bound);
