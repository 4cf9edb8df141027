// Whether a fetched manifest is taken: its serial and expiry (with keys), then
// the transparency log (with a log key); only then is anything of it stored.
#pragma once

#include "update/manifest/manifest_fetch.h"
#include "update/manifest/update_keys.h"

#include <cstdint>
#include <string>

// False, with one log entry saying why, when it is refused. Accepted, the
// serial and the log's checkpoint move forward together, before any package is
// asked for. baseUrl holds version.ini and, with a log key, its proof and log/.
bool AcceptManifest(const FetchedManifest& fetched, const UpdateKeys& keys, const std::wstring& baseUrl,
                    std::int64_t nowSeconds);
