// The log's tree against tools/tlog's oracle (RFC 6962 with Python's hashlib), and its checkpoint and
// proof texts, in the tables the build writes (tests/unit/tlog_vectors.py): the oracle's entry i is the
// decimal text of i; the checkpoint is of its size 300, signed with the test log key.
#include "base/base64_text.h"
#include "base/hex_text.h"
#include "base/registry.h"
#include "update/manifest/checkpoint_store.h"
#include "update/manifest/merkle_rules.h"
#include "update/manifest/tlog_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

struct OracleInclusion {
    std::uint64_t size;
    std::uint64_t index;
    const char* path;  // its hashes in hex, run together
};
#include "tlog_vectors.inc"

std::vector<TreeHash> Hashes(const std::string& hex)
{
    std::vector<TreeHash> hashes(hex.size() / 64);
    for (std::size_t i = 0; i < hex.size() / 2; ++i) {
        const int value = HexDigitValue(hex[2 * i]) * 16 + HexDigitValue(hex[2 * i + 1]);
        hashes[i / 32][i % 32] = static_cast<unsigned char>(value);
    }
    return hashes;
}
TreeHash Root(std::uint64_t size) { return Hashes(kOracleRoots[size])[0]; }
TreeHash Leaf(std::uint64_t index) { return LeafHash(std::to_string(index)); }

// The tiles as the oracle's log publishes them (below 65,536 leaves, level 1 holds the roots of each 256).
std::vector<std::vector<TreeHash>> TilesFor(std::uint64_t oldSize, std::uint64_t newSize)
{
    std::vector<std::vector<TreeHash>> tiles;
    for (const TileRef& tile : TilesForRoots(oldSize, newSize)) {
        tiles.emplace_back();
        for (std::uint64_t at = tile.index * kTileWidth; at < tile.index * kTileWidth + tile.width; ++at) {
            tiles.back().push_back(tile.level == 0 ? Leaf(at) : Root(256 * (at + 1)));
        }
    }
    return tiles;
}

TEST(MerkleRules, RootsOfEverySizeFromItsTilesAndThoseOfAnOlderSize)
{
    for (std::uint64_t size = 1; size <= 300; ++size) {
        for (const std::uint64_t older : {size / 2, size - 1}) {
            const std::optional<TreeRoots> roots = RootsFromTiles(older, size, TilesFor(older, size));
            ASSERT_TRUE(roots) << older << " " << size;
            EXPECT_EQ(Root(size), roots->newRoot) << size;
            EXPECT_EQ(Root(older), roots->oldRoot) << older << " under " << size;
        }
    }
    // A full tile read for the older size only is vouched for by the level above: a changed hash in it,
    // though the older root does not use that hash, is caught.
    std::vector<std::vector<TreeHash>> tiles = TilesFor(10, 300);
    ASSERT_EQ(3u, tiles.size());
    tiles[1][100][0] ^= 1;  // tile/0/000, read whole for size 10
    EXPECT_FALSE(RootsFromTiles(10, 300, tiles));
    for (const auto& sizes : {std::pair<int, int>{1, 65535}, {300, 65535}, {65280, 65535}, {255, 257}}) {
        EXPECT_LE(TilesForRoots(sizes.first, sizes.second).size(), 3u);
    }
}

TEST(MerkleRules, TilePaths)
{
    EXPECT_EQ("tile/0/x001/x234/067", TilePath(TileRef{0, 1234067, 256}));
    EXPECT_EQ("tile/1/005.p/44", TilePath(TileRef{1, 5, 44}));
    EXPECT_EQ("tile/2/x001/000.p/1", TilePath(TileRef{2, 1000, 1}));
}

TEST(MerkleRules, InclusionOfEveryIndexAndProofsThatMustFail)
{
    for (const OracleInclusion& row : kOracleInclusion) {
        const std::vector<TreeHash> path = Hashes(row.path);
        const TreeHash root = Root(row.size);
        EXPECT_TRUE(VerifyInclusion(row.index, row.size, Leaf(row.index), path, root)) << row.index << " " << row.size;
        std::vector<TreeHash> longer = path;
        longer.push_back(root);
        EXPECT_FALSE(VerifyInclusion(row.index, row.size, Leaf(row.index), longer, root)) << "one hash too many";
        if (!path.empty()) {
            EXPECT_FALSE(VerifyInclusion(row.index, row.size, Leaf(row.index),
                                         std::vector<TreeHash>(path.begin(), path.end() - 1), root))
                << "one hash too few";
        }
        if (path.size() >= 2) {
            std::vector<TreeHash> swapped = path;
            std::swap(swapped[0], swapped[1]);
            EXPECT_FALSE(VerifyInclusion(row.index, row.size, Leaf(row.index), swapped, root)) << "swapped";
        }
        EXPECT_FALSE(VerifyInclusion(row.size, row.size, Leaf(row.index), path, root)) << "index at the size";
        EXPECT_FALSE(VerifyInclusion(row.size + 1, row.size, Leaf(row.index), path, root)) << "index past it";
    }
}

LogKey TestLogKey(const char* origin)
{
    LogKey key{};
    std::memcpy(key.key.xy, kLogKeyPoint, sizeof key.key.xy);
    key.origin = origin;
    return key;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string SignatureLine(const std::string& name, std::vector<unsigned char> value)
{
    return "\xE2\x80\x94 " + name + " " + Base64Text(value.data(), value.size()) + "\n";
}

TEST(Checkpoint, ReadTable)
{
    const std::string note = kSignedCheckpoint;
    const std::size_t lineAt = note.find("\n\n") + 2;
    const std::string text = note.substr(0, lineAt);
    std::vector<unsigned char> ours = *Base64Bytes(note.substr(note.rfind(' ') + 1, note.size() - note.rfind(' ') - 2));
    const std::string otherKey = SignatureLine(kLogOrigin, std::vector<unsigned char>(70, 7));
    std::vector<unsigned char> spoiled = ours;
    spoiled[12] ^= 1;  // a byte of r
    std::string sixteen = note;
    for (int i = 0; i < 15; ++i) {
        sixteen += otherKey;
    }
    const LogKey key = TestLogKey(kLogOrigin);
    const LogKey elsewhere = TestLogKey("update.velmar.test/other-log");
    struct Case {
        const char* label;
        std::string note;
        const LogKey* key;
        const char* refusal;  // in the reason given; nullptr: accepted
    } cases[] = {
        {"as signed", note, &key, nullptr},
        {"CRLF", Replaced(note, "\n", "\r\n"), &key, "control character"},
        {"no final newline", note.substr(0, note.size() - 1), &key, "not a signed note"},
        {"an unknown key of the same name", note + otherKey, &key, nullptr},
        {"our key id under another name, not verified", note + SignatureLine("witness.test/w", spoiled), &key, nullptr},
        {"a bad signature", text + SignatureLine(kLogOrigin, spoiled), &key, "does not verify"},
        {"only another key's signature", text + otherKey, &key, "not signed by the log key"},
        {"16 signature lines", sixteen, &key, nullptr},
        {"17 signature lines", sixteen + otherKey, &key, "more than 16"},
        {"a control character", note + SignatureLine("wit\x01ness", ours), &key, "control character"},
        {"another log's origin", note, &elsewhere, "another origin"},
        {"a size with a leading zero", Replaced(note, "\n300\n", "\n0300\n"), &key, "malformed"},
    };
    for (const Case& c : cases) {
        const CheckpointReading reading = ReadCheckpoint(c.note, *c.key);
        EXPECT_EQ(c.refusal == nullptr, reading.checkpoint.has_value()) << c.label;
        if (reading.checkpoint) {
            EXPECT_EQ(300u, reading.checkpoint->size);
            EXPECT_EQ(Root(300), reading.checkpoint->root);
        } else if (c.refusal != nullptr) {
            const std::wstring refusal(c.refusal, c.refusal + std::strlen(c.refusal));
            EXPECT_NE(nullptr, std::wcsstr(reading.refusal, refusal.c_str())) << c.label;
        }
    }
    EXPECT_FALSE(ReadCheckpoint(note + std::string(16 * 1024, 'x') + "\n", key).checkpoint) << "over 16 KiB";
}

TEST(TlogProof, ParseTable)
{
    const OracleInclusion& row = kOracleInclusion[100];  // size 255, index 99
    std::string lines;
    for (const TreeHash& hash : Hashes(row.path)) {
        lines += Base64Text(hash.data(), hash.size()) + "\n";
    }
    const std::string body = "index " + std::to_string(row.index) + "\n" + lines + "\n" + kSignedCheckpoint;
    const std::optional<TlogProof> proof = ParseTlogProof("c2sp.org/tlog-proof@v1\n" + body);
    ASSERT_TRUE(proof);
    EXPECT_EQ(row.index, proof->index);
    EXPECT_EQ(Hashes(row.path), proof->path);
    EXPECT_EQ(kSignedCheckpoint, proof->checkpoint);
    const std::string header = "c2sp.org/tlog-proof@v1\n";
    for (const std::string& bad : {"c2sp.org/tlog-proof@v2\n" + body, header + Replaced(body, "index ", "index 0"),
                                   header + "index 1\n" + lines}) {
        EXPECT_FALSE(ParseTlogProof(bad)) << bad.substr(0, 40);
    }
}

TEST(CheckpointStore, ANewLogAfterAForkIsNotJudgedByTheOldOnesCheckpoint)
{
    StoreCheckpoint(Checkpoint{300, Root(300)}, TestLogKey(kLogOrigin));
    EXPECT_EQ(Root(300), StoredCheckpoint(TestLogKey(kLogOrigin)).value_or(Checkpoint{}).root);
    EXPECT_FALSE(StoredCheckpoint(TestLogKey("update.velmar.test/log-2")));
    DeleteRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, L"TlogSize");  // no checkpoint left for the next test
}

}  // namespace
