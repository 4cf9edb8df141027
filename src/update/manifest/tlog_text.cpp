#include "update/manifest/tlog_text.h"

#include "base/base64_text.h"
#include "base/decimal_text.h"
#include "update/manifest/signature_check.h"

#include <algorithm>

namespace {

constexpr char kEmDash[] = "\xE2\x80\x94 ";
constexpr char kProofHeader[] = "c2sp.org/tlog-proof@v1";
// A tree below 2^63 entries needs at most 63 hashes in a path.
constexpr std::size_t kMaxPathHashes = 63;

CheckpointReading Refused(const wchar_t* why) { return CheckpointReading{std::nullopt, why}; }

// The lines of text that ends with "\n", without their line ends.
std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// A decimal number without a leading zero, below 2^63.
std::optional<std::uint64_t> LogNumber(const std::string& text)
{
    if (text.size() > 1 && text[0] == '0') {
        return std::nullopt;
    }
    return ParsePlainDecimal(std::wstring(text.begin(), text.end()), 0x7FFFFFFFFFFFFFFFull);
}

std::optional<TreeHash> HashOf(const std::string& base64)
{
    const std::optional<std::vector<unsigned char>> bytes = Base64Bytes(base64);
    if (!bytes || bytes->size() != sizeof(TreeHash)) {
        return std::nullopt;
    }
    TreeHash hash{};
    std::copy(bytes->begin(), bytes->end(), hash.begin());
    return hash;
}

// Whether the signature over `text` verifies under the log's key.
bool SignedByLog(const std::string& text, const std::vector<unsigned char>& signature, const LogKey& key)
{
    Sha256Digest digest{};
    if (!Sha256Of(text.data(), text.size(), digest)) {
        return false;
    }
    unsigned char hashed[32];
    std::copy(digest.begin(), digest.end(), hashed);
    return VerifyP256Signature(key.key.xy, hashed, std::string(signature.begin(), signature.end())) ==
           SignatureVerdict::Valid;
}

}  // namespace

CheckpointReading ReadCheckpoint(const std::string& note, const LogKey& key)
{
    if (note.size() > kMaxCheckpointBytes) {
        return Refused(L"the checkpoint is over 16 KiB");
    }
    if (std::any_of(note.begin(), note.end(), [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F; })) {
        return Refused(L"the checkpoint holds a control character");
    }
    const std::size_t blank = note.find("\n\n");
    if (blank == std::string::npos || note.back() != '\n' || blank + 2 == note.size()) {
        return Refused(L"the checkpoint is not a signed note");
    }
    const std::string text = note.substr(0, blank + 1);
    const std::vector<std::string> lines = LinesOf(text);
    if (lines.size() != 3) {
        return Refused(L"the checkpoint's text is not three lines");
    }
    if (lines[0] != key.origin) {
        return Refused(L"the checkpoint is another log's (another origin)");
    }
    const std::optional<std::uint64_t> size = LogNumber(lines[1]);
    const std::optional<TreeHash> root = HashOf(lines[2]);
    if (!size || !root) {
        return Refused(L"the checkpoint's size or root hash is malformed");
    }
    const std::vector<std::string> signatures = LinesOf(note.substr(blank + 2));
    if (signatures.size() > kMaxSignatureLines) {
        return Refused(L"the checkpoint has more than 16 signature lines");
    }
    Sha256Digest keyHash{};
    const std::vector<unsigned char> info = P256PublicKeyInfo(key.key.xy);
    Sha256Of(info.data(), info.size(), keyHash);
    bool signedByLog = false;
    for (const std::string& line : signatures) {
        const std::size_t space = line.find(' ', sizeof kEmDash - 1);
        const std::optional<std::vector<unsigned char>> value =
            space == std::string::npos ? std::nullopt : Base64Bytes(line.substr(space + 1));
        if (line.compare(0, sizeof kEmDash - 1, kEmDash) != 0 || space == sizeof kEmDash - 1 || !value ||
            value->size() <= 4) {
            return Refused(L"the checkpoint has a malformed signature line");
        }
        // Another key's line, a witness's say, is not ours to judge.
        if (line.compare(sizeof kEmDash - 1, space - (sizeof kEmDash - 1), key.origin) != 0 ||
            !std::equal(value->begin(), value->begin() + 4, keyHash.begin())) {
            continue;
        }
        if (!SignedByLog(text, std::vector<unsigned char>(value->begin() + 4, value->end()), key)) {
            return Refused(L"the checkpoint's signature by the log key does not verify");
        }
        signedByLog = true;
    }
    if (!signedByLog) {
        return Refused(L"the checkpoint is not signed by the log key");
    }
    return CheckpointReading{Checkpoint{*size, *root}, nullptr};
}

std::optional<TlogProof> ParseTlogProof(const std::string& bytes)
{
    if (bytes.size() > kMaxTlogProofBytes) {
        return std::nullopt;
    }
    TlogProof proof;
    std::size_t at = 0;
    // The next line, without its "\n"; nullopt at the end of the text.
    const auto nextLine = [&]() -> std::optional<std::string> {
        const std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        return line;
    };
    const std::optional<std::string> header = nextLine();
    const std::optional<std::string> index = nextLine();
    if (!header || *header != kProofHeader || !index || index->compare(0, 6, "index ") != 0) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> number = LogNumber(index->substr(6));
    if (!number) {
        return std::nullopt;
    }
    proof.index = *number;
    for (std::optional<std::string> line = nextLine(); !line || !line->empty(); line = nextLine()) {
        const std::optional<TreeHash> hash = line ? HashOf(*line) : std::nullopt;
        if (!hash || proof.path.size() == kMaxPathHashes) {
            return std::nullopt;
        }
        proof.path.push_back(*hash);
    }
    proof.checkpoint = bytes.substr(at);
    return proof;
}
