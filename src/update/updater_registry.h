// What the cycle keeps of its own beside LastTimeCheck, under
// HKEY_CURRENT_USER\Software\Orvanta Velmar\Velmar. Each value counts only with
// its own type and size: anything else reads as absent.
#pragma once

#include "update/package/run_folder.h"

#include <cstdint>
#include <optional>

// This installation's random id for staged rollouts (REG_QWORD InstallId),
// drawn once from the system's cryptographic generator and never 0; drawn anew
// and stored when absent, 0, or of another type or size. nullopt when no
// number can be drawn or the drawn one cannot be stored. It never leaves the machine.
std::optional<std::uint64_t> InstallId();

// Run folders not yet known to be gone (REG_MULTI_SZ LeftFolders), each
// recorded from its creation until it is removed, one text per folder.
FolderRecords LeftFolders();
