// Whether the transparency log holds the manifest: its proof beside it,
// <base>version.ini.tlog-proof, and, when the log has grown since the checkpoint
// this installation accepted last, the tiles under <base>log/.
#pragma once

#include "base/sha256.h"
#include "update/manifest/tlog_text.h"
#include "update/manifest/update_keys.h"

#include <cstdint>
#include <optional>
#include <string>

// The checkpoint to store once the manifest is accepted; nullopt, with one log
// entry (TlogRejected, TlogStale or TlogFork), when the log does not show the
// manifest in a history that continues the stored one. Every download ends by
// deadlineTick (GetTickCount64), the manifest's own, with its retry rules.
// Nothing is stored here.
std::optional<Checkpoint> CheckManifestLogged(const std::wstring& baseUrl, const Sha256Digest& manifest,
                                              const LogKey& key, std::uint64_t deadlineTick);
