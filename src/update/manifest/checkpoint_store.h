// The last checkpoint of the transparency log that this installation accepted,
// kept under HKCU\Software\Orvanta Velmar\Velmar beside LastTimeCheck: TlogSize
// (REG_QWORD) and TlogRoot (REG_BINARY, 32 bytes), and TlogLog (REG_BINARY,
// 32 bytes), which log they are of.
#pragma once

#include "update/manifest/tlog_text.h"

#include <optional>

// nullopt when any value is absent or of another type or size, the size is
// 2^63 or more, or they are of another log (another origin or key).
std::optional<Checkpoint> StoredCheckpoint(const LogKey& log);

// The size goes first and comes back last, so a run cut off in between leaves
// no checkpoint (the next manifest is taken as by a fresh installation), never
// a size with another size's root, which would read as a fork for ever.
void StoreCheckpoint(const Checkpoint& checkpoint, const LogKey& log);
