// The update server's manifest, version.ini: fetched into memory, checked and
// parsed once; nothing of it is written to disk.
#pragma once

#include "base/sha256.h"
#include "update/manifest/manifest_value.h"
#include "update/manifest/update_keys.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

enum class ManifestFetch {
    Fetched,      // downloaded whole and, with keys, signed by one of them
    Unavailable,  // could not be downloaded: as if the server were away
    Rejected,     // its signature is missing or wrong: someone answers who must not
};

struct FetchedManifest {
    ManifestFetch status = ManifestFetch::Unavailable;
    Manifest manifest;                      // parsed from the very bytes that were checked
    std::optional<std::size_t> signingKey;  // with keys: the index of the key that signed it
    Sha256Digest sha256{};                  // of the very bytes, for the transparency log
    std::uint64_t deadlineTick = 0;         // the manifest's time budget, which the log's proof shares
};

// Downloads the manifest and, with keys, its signature, both within one time
// budget; with keys the bytes are checked before they are parsed.
FetchedManifest FetchManifest(const std::wstring& url, const UpdateKeys& keys);
