#include "update/manifest/manifest_fetch.h"

#include "build_settings.h"
#include "net/http_download.h"
#include "net/transfer_rules.h"
#include "update/manifest/manifest_signature.h"

#include <windows.h>

FetchedManifest FetchManifest(const std::wstring& url, const UpdateKeys& keys)
{
    // The manifest and its signature share one budget, retries and waits included.
    const std::uint64_t deadline = ::GetTickCount64() + VELMAR_MANIFEST_TIME_LIMIT_MS;
    FetchedManifest fetched;
    fetched.deadlineTick = deadline;
    std::string body;
    if (!DownloadUrlToString(url.c_str(), ManifestTransferLimits(), deadline, body) ||
        !Sha256Of(body.data(), body.size(), fetched.sha256)) {
        return fetched;
    }
    if (keys.Any()) {
        fetched.signingKey = VerifyDetachedSignature(url, body, ManifestTransferLimits(), deadline, keys);
        if (!fetched.signingKey) {
            fetched.status = ManifestFetch::Rejected;
            return fetched;
        }
    }
    fetched.manifest = ParseManifest(body);
    fetched.status = ManifestFetch::Fetched;
    return fetched;
}
