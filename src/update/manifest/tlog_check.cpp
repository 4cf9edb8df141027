#include "update/manifest/tlog_check.h"

#include "base/base64_text.h"
#include "log/update_log.h"
#include "net/http_download.h"
#include "update/manifest/checkpoint_store.h"

namespace {

std::optional<Checkpoint> Rejected(const std::wstring& why)
{
    g_updateLog.Stream() << L" TlogRejected:" << why;
    return std::nullopt;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring Shown(const TreeHash& hash) { return Wide(Base64Text(hash.data(), hash.size())); }

// Both checkpoints, and the root the log gives for the stored size: the evidence a monitor needs.
std::optional<Checkpoint> Fork(const Checkpoint& stored, const Checkpoint& now, const TreeHash& rootThen)
{
    g_updateLog.Stream() << L" TlogFork:accepted before size " << stored.size << L" root " << Shown(stored.root)
                         << L"; the log now has size " << now.size << L" root " << Shown(now.root)
                         << L" and gives root " << Shown(rootThen) << L" for size " << stored.size;
    return std::nullopt;
}

TransferLimits LimitedTo(std::uint64_t maxBytes)
{
    TransferLimits limits = ManifestTransferLimits();
    limits.maxBytes = maxBytes;
    return limits;
}

// A tile's hashes; a partial tile that is gone (404) is read from the full tile
// of the same index, which a grown log has in its place.
std::optional<std::vector<TreeHash>> FetchTile(const std::wstring& logUrl, const TileRef& tile,
                                               std::uint64_t deadlineTick)
{
    const TransferLimits limits = LimitedTo(kTileWidth * sizeof(TreeHash));
    std::string body;
    TransferOutcome got = DownloadToString((logUrl + Wide(TilePath(tile))).c_str(), limits, deadlineTick, body);
    bool full = tile.width == kTileWidth;
    if (!full && got.end == TransferEnd::HttpStatus && got.status == 404) {
        full = true;
        got = DownloadToString((logUrl + Wide(TilePath(TileRef{tile.level, tile.index, kTileWidth}))).c_str(),
                               limits, deadlineTick, body);
    }
    return got.Complete() ? TileHashes(body, tile.width, full) : std::nullopt;
}

}  // namespace

std::optional<Checkpoint> CheckManifestLogged(const std::wstring& baseUrl, const Sha256Digest& manifest,
                                              const LogKey& key, std::uint64_t deadlineTick)
{
    std::string body;
    if (!DownloadUrlToString((baseUrl + L"version.ini.tlog-proof").c_str(), LimitedTo(kMaxTlogProofBytes),
                             deadlineTick, body)) {
        return Rejected(L"no proof (version.ini.tlog-proof missing or unreadable)");
    }
    const std::optional<TlogProof> proof = ParseTlogProof(body);
    if (!proof) {
        return Rejected(L"version.ini.tlog-proof is malformed");
    }
    const CheckpointReading reading = ReadCheckpoint(proof->checkpoint, key);
    if (!reading.checkpoint) {
        return Rejected(reading.refusal);
    }
    const Checkpoint& now = *reading.checkpoint;
    if (!VerifyInclusion(proof->index, now.size, LeafHash(ManifestLogEntry(manifest)), proof->path, now.root)) {
        return Rejected(L"the proof does not show this manifest at index " + std::to_wstring(proof->index) +
                        L" of the log of size " + std::to_wstring(now.size));
    }
    const std::optional<Checkpoint> stored = StoredCheckpoint(key);
    if (!stored) {
        return now;  // the first checkpoint this installation sees
    }
    if (stored->size > now.size) {
        g_updateLog.Stream() << L" TlogStale:the log's size " << now.size << L" is below the size " << stored->size
                             << L" accepted before";
        return std::nullopt;
    }
    if (stored->size == now.size) {
        return stored->root == now.root ? std::optional<Checkpoint>(now) : Fork(*stored, now, now.root);
    }
    const std::wstring logUrl = baseUrl + L"log/";
    std::vector<std::vector<TreeHash>> tiles;
    for (const TileRef& tile : TilesForRoots(stored->size, now.size)) {
        std::optional<std::vector<TreeHash>> hashes = FetchTile(logUrl, tile, deadlineTick);
        if (!hashes) {
            return Rejected(L"the tile " + logUrl + Wide(TilePath(tile)) + L" is missing or unreadable");
        }
        tiles.push_back(std::move(*hashes));
    }
    const std::optional<TreeRoots> roots = RootsFromTiles(stored->size, now.size, tiles);
    if (!roots || roots->newRoot != now.root) {
        return Rejected(L"the tiles do not give the checkpoint's root");
    }
    return roots->oldRoot == stored->root ? std::optional<Checkpoint>(now) : Fork(*stored, now, roots->oldRoot);
}
