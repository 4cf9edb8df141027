#include "base/sha256.h"
#include "update/manifest/signature_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
Bytes Fill(std::size_t count, unsigned char value) { return Bytes(count, value); }
// count bytes first, first + 1, ...
Bytes Counting(unsigned char first, std::size_t count)
{
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<unsigned char>(first + i);
    }
    return out;
}
Bytes Tlv(unsigned char tag, const Bytes& content)
{
    return Cat({{tag, static_cast<unsigned char>(content.size())}, content});
}
Bytes Int(const Bytes& value) { return Tlv(0x02, value); }
Bytes Seq(const Bytes& content) { return Tlv(0x30, content); }
Bytes WithByte(Bytes bytes, std::size_t index, unsigned char value)
{
    bytes.at(index) = value;
    return bytes;
}

const Bytes kR = Counting(0x01, 32);
const Bytes kS = Counting(0x41, 32);
const Bytes kPlain = Seq(Cat({Int(kR), Int(kS)}));

struct DerCase {
    const char* label;
    Bytes der;
    Bytes rs;  // empty: rejected
};

TEST(DerSignature, ParseTable)
{
    const Bytes highR = Cat({{0x80}, Counting(0x02, 31)});
    const Bytes highS = Fill(32, 0xff);
    const DerCase cases[] = {
        {"plain", kPlain, Cat({kR, kS})},
        {"high bits behind a zero", Seq(Cat({Int(Cat({{0x00}, highR})), Int(Cat({{0x00}, highS}))})),
         Cat({highR, highS})},
        {"short values padded", Seq(Cat({Int({0x01}), Int({0x7f, 0x02})})),
         Cat({Fill(31, 0), {0x01}, Fill(30, 0), {0x7f, 0x02}})},
        {"short value with its zero", Seq(Cat({Int({0x00, 0x80}), Int(kS)})), Cat({Fill(31, 0), {0x80}, kS})},

        {"empty", {}, {}},
        {"only a sequence header", {0x30, 0x00}, {}},
        {"byte after the sequence", Cat({kPlain, {0x00}}), {}},
        {"byte after s in the sequence", Seq(Cat({Int(kR), Int(kS), {0x00}})), {}},
        {"over 80 bytes", Cat({kPlain, Fill(81 - kPlain.size(), 0)}), {}},
        {"truncated", Bytes(kPlain.begin(), kPlain.end() - 1), {}},
        {"set instead of sequence", WithByte(kPlain, 0, 0x31), {}},
        {"bit string for r", Seq(Cat({Tlv(0x03, kR), Int(kS)})), {}},
        {"octet string for s", Seq(Cat({Int(kR), Tlv(0x04, kS)})), {}},
        {"sequence length one more", WithByte(kPlain, 1, static_cast<unsigned char>(kPlain[1] + 1)), {}},
        {"sequence length one less", WithByte(kPlain, 1, static_cast<unsigned char>(kPlain[1] - 1)), {}},
        {"r length one less", WithByte(kPlain, 3, 31), {}},
        {"s length past the end", Seq(Cat({Int(kR), {0x02, 0x21}, kS})), {}},
        {"long-form sequence length", Cat({{0x30, 0x81, 0x44}, Int(kR), Int(kS)}), {}},
        {"long-form integer length", Seq(Cat({{0x02, 0x81, 0x20}, kR, Int(kS)})), {}},
        {"r of 33 value bytes", Seq(Cat({Int(Cat({{0x01}, kR})), Int(kS)})), {}},
        {"r of 34 bytes", Seq(Cat({Int(Cat({{0x00, 0x00}, highR})), Int(kS)})), {}},
        {"needless leading zero", Seq(Cat({Int(Cat({{0x00, 0x7f}, Counting(0x02, 31)})), Int(kS)})), {}},
        {"zero", Seq(Cat({Int({0x00}), Int(kS)})), {}},
        {"negative r", Seq(Cat({Int(highR), Int(kS)})), {}},
        {"negative s", Seq(Cat({Int(kR), Int(highS)})), {}},
        {"empty r", Seq(Cat({Int({}), Int(kS)})), {}},
    };
    for (const DerCase& c : cases) {
        SCOPED_TRACE(c.label);
        unsigned char rs[64];
        std::memset(rs, 0xa5, sizeof rs);
        const bool parsed = ParseDerP256Signature(c.der.data(), c.der.size(), rs);
        EXPECT_EQ(!c.rs.empty(), parsed);
        EXPECT_EQ(c.rs.empty() ? Fill(64, 0xa5) : c.rs, Bytes(rs, rs + 64));  // untouched when rejected
    }
}

Bytes FromHex(const char* hex)
{
    Bytes out;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    }
    return out;
}

// X then Y of tests/keys/test-update-key.pub.pem (openssl ec -pubin -outform DER, last 64 bytes).
const Bytes kTestKey = FromHex(
    "7805a751a5e0d34cdadc0405dcf7657fe86e21d44cd857e605439b65e73f9186"
    "0aaf76388ac0412fd1614e4b65b5869c0d35c373e5314d961e6b9041fd8159cc");

// 2 MiB + 3 bytes, byte i = i % 251: more than one 1 MiB read, and not whole 64-byte blocks.
std::string TestData()
{
    std::string data(2 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i % 251);
    }
    return data;
}

// The fixtures below were made from TestData() written to data.bin:
// openssl dgst -sha256 data.bin
const Bytes kTestDataDigest = FromHex(
    "9d5bd11e1a0db7e737b58c7b3c0eaabeab2d7adb4b328b455607f2c50ad029d2");
// openssl dgst -sha256 -sign tests/keys/test-update-key.pem -out good.sig data.bin
const Bytes kGoodSignature = FromHex(
    "3045022100809c4e10aa98ae75f8b3799820d38f988f62656c7a6efee6e1d68d"
    "589680c6a302201df7b9f01f01ae9bf760226354f10da91b034487c3d1d97d0c"
    "8ca40b42138c7f");
// The same with a throwaway key: openssl ecparam -name prime256v1 -genkey -noout -out other.pem
const Bytes kOtherKeySignature = FromHex(
    "30450220073bde1fe8bdd49312ca2bc695d8ca4a7d744a2662c0e55d829a785e"
    "79ff8edc022100ffeb3884124375b96653f93e72d31eec783f9dc8bca362ea45"
    "2aaa1bd3816faf");

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

const char* Name(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Valid: return "Valid";
    case SignatureVerdict::Malformed: return "Malformed";
    case SignatureVerdict::Mismatch: return "Mismatch";
    case SignatureVerdict::Failed: return "Failed";
    }
    return "?";
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole)
{
    const std::string data = TestData();
    const struct {
        const char* label;
        std::vector<std::size_t> pieces;  // then the rest in one piece
    } cases[] = {
        {"one piece", {}},
        {"1 MiB + 1, then the rest", {1024 * 1024 + 1}},
        {"around block edges", {0, 1, 63, 64, 65, 127}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sha256 hash;
        ASSERT_TRUE(hash.Started());
        std::size_t at = 0;
        for (std::size_t piece : c.pieces) {
            EXPECT_TRUE(hash.Update(data.data() + at, piece));
            at += piece;
        }
        EXPECT_TRUE(hash.Update(data.data() + at, data.size() - at));
        unsigned char digest[32] = {};
        ASSERT_TRUE(hash.Finish(digest));
        EXPECT_EQ(kTestDataDigest, Bytes(digest, digest + 32));
    }
}

TEST(VerifyP256Signature, Table)
{
    const std::string data = TestData();
    std::string flippedData = data;
    flippedData[1000000] ^= 0x01;
    const std::string good = AsText(kGoodSignature);
    std::string flippedSignature = good;
    flippedSignature.back() ^= 0x01;  // last byte of s: still well-formed DER

    const struct {
        const char* label;
        const std::string& file;
        std::string signature;
        SignatureVerdict verdict;
    } cases[] = {
        {"good", data, good, SignatureVerdict::Valid},
        {"one byte of the file flipped", flippedData, good, SignatureVerdict::Mismatch},
        {"one byte of the signature flipped", data, flippedSignature, SignatureVerdict::Mismatch},
        {"another key's signature", data, AsText(kOtherKeySignature),
         SignatureVerdict::Mismatch},
        {"empty .sig", data, "", SignatureVerdict::Malformed},
    };
    unsigned char key[64] = {};
    std::copy(kTestKey.begin(), kTestKey.end(), key);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sha256 hash;
        unsigned char digest[32] = {};
        ASSERT_TRUE(hash.Update(c.file.data(), c.file.size()));
        ASSERT_TRUE(hash.Finish(digest));
        EXPECT_STREQ(Name(c.verdict), Name(VerifyP256Signature(key, digest, c.signature)));
    }
}

}  // namespace
