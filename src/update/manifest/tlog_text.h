// What the transparency log publishes as text, on plain values: its checkpoint,
// a signed note (the origin, the tree size, the root hash, signed with the log's
// ECDSA P-256 key, type 0x02), and a manifest's proof, version.ini.tlog-proof
// (c2sp.org/tlog-proof@v1: the index, the inclusion path, the checkpoint).
#pragma once

#include "update/manifest/merkle_rules.h"
#include "update/manifest/update_keys.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::size_t kMaxCheckpointBytes = 16 * 1024;
constexpr std::size_t kMaxTlogProofBytes = 16 * 1024;
constexpr std::size_t kMaxSignatureLines = 16;

struct Checkpoint {
    std::uint64_t size = 0;
    TreeHash root{};
};

// A checkpoint, or why it is refused (a short text for the log).
struct CheckpointReading {
    std::optional<Checkpoint> checkpoint;
    const wchar_t* refusal = nullptr;
};

// The note must be at most 16 KiB with no control character but "\n": exactly
// the lines "<origin>", "<size>" (decimal, no leading zero, below 2^63) and
// "<base64 root>", an empty line, then 1 to 16 lines "— <key name>
// <base64(key id || signature)>", all ended by "\n". The origin must be the
// log's; the line whose name is the origin and whose key id is the first 4
// bytes of the SHA-256 of the log key's DER SubjectPublicKeyInfo must carry a
// DER ECDSA signature over the SHA-256 of the three text lines that verifies.
// Lines of other keys are ignored.
CheckpointReading ReadCheckpoint(const std::string& note, const LogKey& key);

struct TlogProof {
    std::uint64_t index = 0;
    std::vector<TreeHash> path;  // the leaf's sibling first
    std::string checkpoint;      // as it came, to be read with ReadCheckpoint
};

// "c2sp.org/tlog-proof@v1", "index <n>", one base64 hash a line, an empty line,
// then the checkpoint to the end; at most 16 KiB. nullopt when it is not that.
std::optional<TlogProof> ParseTlogProof(const std::string& bytes);
