// The transparency log's tree (RFC 6962 with SHA-256) and its tiles, on plain
// values: the entry of a manifest, leaf and node hashes, inclusion proofs, and
// the roots of two sizes of the tree from the tiles published beside it.
#pragma once

#include "base/sha256.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using TreeHash = Sha256Digest;

// "velmar-manifest/v1\n", the 64 lowercase hex digits of the SHA-256 of the
// manifest's exact bytes, "\n".
std::string ManifestLogEntry(const Sha256Digest& manifest);

// SHA-256(0x00 || entry) and SHA-256(0x01 || left || right). A hash that CNG
// cannot make comes out as zeros, which match no root a log signs.
TreeHash LeafHash(const std::string& entry);
TreeHash NodeHash(const TreeHash& left, const TreeHash& right);

// RFC 9162 2.1.3.2: the leaf at `index` is in the tree of `size` whose root is
// `root`, by a path exactly as long as that tree needs; false for an index at
// or past the size.
bool VerifyInclusion(std::uint64_t index, std::uint64_t size, const TreeHash& leaf, const std::vector<TreeHash>& path,
                     const TreeHash& root);

constexpr unsigned kTileWidth = 256;

// The level-`level` hashes from index * 256 on, `width` of them (256: a full
// tile). Level 0 holds the leaf hashes, level L the roots of level L-1's full tiles.
struct TileRef {
    unsigned level = 0;
    std::uint64_t index = 0;
    unsigned width = kTileWidth;
};

// "tile/<L>/<N>[.p/<W>]", N in 3-digit groups, all but the last prefixed "x"
// (1234067: x001/x234/067).
std::string TilePath(const TileRef& tile);

// A tile's answer as hashes: exactly `width` of them, or, read from the full
// tile in place of a gone partial one (`full`), the first `width` of its 256.
// nullopt for any other length.
std::optional<std::vector<TreeHash>> TileHashes(const std::string& body, unsigned width, bool full);

// The tiles that give the roots of the trees of oldSize and newSize (oldSize at
// most newSize), in the order RootsFromTiles takes them: the partial tiles of
// newSize, which its root vouches for, and the full tiles that oldSize needs
// besides, each vouched for by its hash one level up. Below 65,536 entries: at
// most three.
std::vector<TileRef> TilesForRoots(std::uint64_t oldSize, std::uint64_t newSize);

struct TreeRoots {
    TreeHash oldRoot{};
    TreeHash newRoot{};
};

// Both roots from the hashes of the tiles TilesForRoots named, in its order;
// nullopt when they are not those tiles, or a full tile does not hash to what
// the level above holds for it. The tiles count only once the new root is the
// one the log signed.
std::optional<TreeRoots> RootsFromTiles(std::uint64_t oldSize, std::uint64_t newSize,
                                        const std::vector<std::vector<TreeHash>>& tiles);
