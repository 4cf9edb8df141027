#include "update/manifest/manifest_acceptance.h"

#include "update/manifest/checkpoint_store.h"
#include "update/manifest/serial_store.h"
#include "update/manifest/tlog_check.h"

#include <optional>

bool AcceptManifest(const FetchedManifest& fetched, const UpdateKeys& keys, const std::wstring& baseUrl,
                    std::int64_t nowSeconds)
{
    std::optional<AcceptedSerial> serial;
    if (keys.Any()) {
        serial = JudgeSignedManifest(fetched.manifest, keys, *fetched.signingKey, nowSeconds);
        if (!serial) {
            return false;  // stale, replayed or malformed: no need to ask the log
        }
    }
    std::optional<Checkpoint> checkpoint;
    if (keys.log != nullptr) {
        checkpoint = CheckManifestLogged(baseUrl, fetched.sha256, *keys.log, fetched.deadlineTick);
        if (!checkpoint) {
            return false;
        }
    }
    if (serial) {
        StoreAcceptedSerial(*serial);
    }
    if (checkpoint) {
        StoreCheckpoint(*checkpoint, *keys.log);
    }
    return true;
}
