// The update server's manifest, version.ini: fetched into memory, checked and
// parsed once; nothing of it is written to disk.
#pragma once

#include "update/manifest_text.h"
#include "update/update_keys.h"

#include <cstddef>
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
};

// Downloads the manifest and, with keys, its signature, both within one time budget.
FetchedManifest FetchManifest(const std::wstring& url, const UpdateKeys& keys);

// The registry value that holds the highest serial accepted under this key:
// "ManifestSerial-" and the first 16 hex digits of the SHA-256 of the key's DER
// SubjectPublicKeyInfo.
std::wstring ManifestSerialValueName(const UpdateKey& key);

// A signed manifest's serial and expiry, against the clock and the highest
// serial accepted under the key that signed it (keys.keys[signer]); an accepted
// serial is stored at once. The keys are listed in the order they take over:
// once a key has a serial record, a manifest signed with a key listed before it
// is refused. False, with one log entry naming the reason, when it is refused.
bool AcceptSignedManifest(const Manifest& manifest, const UpdateKeys& keys, std::size_t signer);
