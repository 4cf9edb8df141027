// The highest manifest serial accepted under each signing key, kept under
// HKCU\Software\Orvanta Velmar\Velmar, so that an older signed manifest served
// again is refused.
#pragma once

#include "update/manifest/manifest_value.h"
#include "update/manifest/update_keys.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The registry value that holds the highest serial accepted under this key:
// "ManifestSerial-" and the first 16 hex digits of the SHA-256 of the key's DER
// SubjectPublicKeyInfo.
std::wstring ManifestSerialValueName(const UpdateKey& key);

// A serial judged acceptable, stored only once the manifest passed every check.
struct AcceptedSerial {
    std::wstring valueName;
    std::uint64_t serial = 0;
};

// A signed manifest's serial and expiry, against nowSeconds (Unix time) and the
// highest serial accepted under the key that signed it (keys.keys[signer]). The
// keys are listed in the order they take over: once a key has a serial record,
// a manifest signed with a key listed before it is refused. nullopt, with one
// log entry naming the reason, when it is refused.
std::optional<AcceptedSerial> JudgeSignedManifest(const Manifest& manifest, const UpdateKeys& keys,
                                                  std::size_t signer, std::int64_t nowSeconds);
// A failed write leaves the older serial; the next manifest is judged by that.
void StoreAcceptedSerial(const AcceptedSerial& accepted);
