#include "update/manifest/merkle_rules.h"

#include <cstring>

namespace {

// Eight levels of 8 bits hold any size below 2^64.
constexpr unsigned kLevels = 8;

// How many hashes level `level` of a tree of this size has.
std::uint64_t CountAt(std::uint64_t size, unsigned level) { return size >> (8 * level); }

TreeHash HashOf(unsigned char prefix, const void* first, std::size_t firstSize, const void* second,
                std::size_t secondSize)
{
    Sha256 hash;
    unsigned char digest[32] = {};
    TreeHash result{};
    if (hash.Update(&prefix, 1) && hash.Update(first, firstSize) && hash.Update(second, secondSize) &&
        hash.Finish(digest)) {
        std::memcpy(result.data(), digest, sizeof digest);
    }
    return result;
}

TreeHash EmptyTreeRoot()
{
    TreeHash root{};
    Sha256Of("", 0, root);
    return root;
}

// The root of `count` hashes, a power of two.
TreeHash SubtreeRoot(const TreeHash* hashes, std::uint64_t count)
{
    if (count == 1) {
        return hashes[0];
    }
    const std::uint64_t half = count / 2;
    return NodeHash(SubtreeRoot(hashes, half), SubtreeRoot(hashes + half, half));
}

// Puts hashes[0, count), as the perfect subtrees the bits of count make, to the
// left of `right` (what lies to their right in the tree, if anything).
void FoldLeftOf(const TreeHash* hashes, std::uint64_t count, std::optional<TreeHash>& right)
{
    std::uint64_t end = count;
    for (std::uint64_t part = 1; part <= count; part <<= 1) {
        if ((count & part) != 0) {
            end -= part;
            const TreeHash subtree = SubtreeRoot(hashes + end, part);
            right = right ? NodeHash(subtree, *right) : subtree;
        }
    }
}

std::string ThreeDigits(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    return std::string(3 - digits.size(), '0') + digits;
}

}  // namespace

std::string ManifestLogEntry(const Sha256Digest& manifest)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string entry = "velmar-manifest/v1\n";
    for (unsigned char byte : manifest) {
        entry += kDigits[byte >> 4];
        entry += kDigits[byte & 15];
    }
    return entry + "\n";
}

TreeHash LeafHash(const std::string& entry) { return HashOf(0x00, entry.data(), entry.size(), nullptr, 0); }

TreeHash NodeHash(const TreeHash& left, const TreeHash& right)
{
    return HashOf(0x01, left.data(), left.size(), right.data(), right.size());
}

bool VerifyInclusion(std::uint64_t index, std::uint64_t size, const TreeHash& leaf, const std::vector<TreeHash>& path,
                     const TreeHash& root)
{
    if (index >= size) {
        return false;
    }
    std::uint64_t fn = index;
    std::uint64_t sn = size - 1;
    TreeHash r = leaf;
    for (const TreeHash& p : path) {
        if (sn == 0) {
            return false;  // a hash more than the tree needs
        }
        if ((fn & 1) != 0 || fn == sn) {
            r = NodeHash(p, r);
            while ((fn & 1) == 0 && fn != 0) {
                fn >>= 1;
                sn >>= 1;
            }
        } else {
            r = NodeHash(r, p);
        }
        fn >>= 1;
        sn >>= 1;
    }
    return sn == 0 && r == root;  // sn above 0: a hash too few
}

std::string TilePath(const TileRef& tile)
{
    std::uint64_t index = tile.index;
    std::string groups = ThreeDigits(index % 1000);
    for (index /= 1000; index != 0; index /= 1000) {
        groups = "x" + ThreeDigits(index % 1000) + "/" + groups;
    }
    std::string path = "tile/" + std::to_string(tile.level) + "/" + groups;
    if (tile.width != kTileWidth) {
        path += ".p/" + std::to_string(tile.width);
    }
    return path;
}

std::optional<std::vector<TreeHash>> TileHashes(const std::string& body, unsigned width, bool full)
{
    const std::size_t count = full ? kTileWidth : width;
    if (width == 0 || width > kTileWidth || body.size() != count * sizeof(TreeHash)) {
        return std::nullopt;
    }
    std::vector<TreeHash> hashes(width);
    for (unsigned i = 0; i < width; ++i) {
        std::memcpy(hashes[i].data(), body.data() + i * sizeof(TreeHash), sizeof(TreeHash));
    }
    return hashes;
}

std::vector<TileRef> TilesForRoots(std::uint64_t oldSize, std::uint64_t newSize)
{
    std::vector<TileRef> tiles;
    bool vouched = false;  // a full tile was taken one level down: its hash here is needed too
    for (unsigned level = 0; level < kLevels; ++level) {
        const std::uint64_t newCount = CountAt(newSize, level);
        const std::uint64_t oldCount = CountAt(oldSize, level);
        if (newCount % kTileWidth != 0) {
            tiles.push_back(TileRef{level, newCount / kTileWidth, static_cast<unsigned>(newCount % kTileWidth)});
        }
        vouched = (oldCount % kTileWidth != 0 || vouched) && oldCount / kTileWidth != newCount / kTileWidth;
        if (vouched) {
            tiles.push_back(TileRef{level, oldCount / kTileWidth, kTileWidth});
        }
    }
    return tiles;
}

std::optional<TreeRoots> RootsFromTiles(std::uint64_t oldSize, std::uint64_t newSize,
                                        const std::vector<std::vector<TreeHash>>& tiles)
{
    if (oldSize > newSize || tiles.size() != TilesForRoots(oldSize, newSize).size()) {
        return std::nullopt;
    }
    std::optional<TreeHash> newRoot;
    std::optional<TreeHash> oldRoot;
    const std::vector<TreeHash>* below = nullptr;  // the full tile one level down, vouched for here
    std::size_t next = 0;
    for (unsigned level = 0; level < kLevels; ++level) {
        const std::uint64_t newCount = CountAt(newSize, level);
        const std::uint64_t oldCount = CountAt(oldSize, level);
        const std::vector<TreeHash>* partial = nullptr;
        if (newCount % kTileWidth != 0) {
            partial = &tiles[next++];
            if (partial->size() != newCount % kTileWidth) {
                return std::nullopt;
            }
            FoldLeftOf(partial->data(), partial->size(), newRoot);
        }
        // The old tree's hashes in its tile at this level; right after them, its hash of the tile below.
        const std::uint64_t at = oldCount % kTileWidth;
        if (at == 0 && below == nullptr) {
            continue;
        }
        const bool full = oldCount / kTileWidth != newCount / kTileWidth;
        const std::vector<TreeHash>* old = full ? &tiles[next++] : partial;
        if (old == nullptr || (full && old->size() != kTileWidth) || old->size() < at + (below != nullptr ? 1 : 0)) {
            return std::nullopt;
        }
        if (below != nullptr && SubtreeRoot(below->data(), kTileWidth) != (*old)[at]) {
            return std::nullopt;
        }
        FoldLeftOf(old->data(), at, oldRoot);
        below = full ? old : nullptr;
    }
    return TreeRoots{oldRoot.value_or(EmptyTreeRoot()), newRoot.value_or(EmptyTreeRoot())};
}
