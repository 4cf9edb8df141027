#include "update/der_signature.h"
#include "update/signature_check.h"

#include <gtest/gtest.h>

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

// X then Y of tests/keys/test-update-key.pub.pem (openssl ec -pubin -outform DER, last 64 bytes).
const unsigned char kTestKey[64] = {
    0x78, 0x05, 0xa7, 0x51, 0xa5, 0xe0, 0xd3, 0x4c, 0xda, 0xdc, 0x04, 0x05, 0xdc, 0xf7, 0x65, 0x7f,
    0xe8, 0x6e, 0x21, 0xd4, 0x4c, 0xd8, 0x57, 0xe6, 0x05, 0x43, 0x9b, 0x65, 0xe7, 0x3f, 0x91, 0x86,
    0x0a, 0xaf, 0x76, 0x38, 0x8a, 0xc0, 0x41, 0x2f, 0xd1, 0x61, 0x4e, 0x4b, 0x65, 0xb5, 0x86, 0x9c,
    0x0d, 0x35, 0xc3, 0x73, 0xe5, 0x31, 0x4d, 0x96, 0x1e, 0x6b, 0x90, 0x41, 0xfd, 0x81, 0x59, 0xcc,
};

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
const unsigned char kTestDataDigest[32] = {
    0x9d, 0x5b, 0xd1, 0x1e, 0x1a, 0x0d, 0xb7, 0xe7, 0x37, 0xb5, 0x8c, 0x7b, 0x3c, 0x0e, 0xaa, 0xbe,
    0xab, 0x2d, 0x7a, 0xdb, 0x4b, 0x32, 0x8b, 0x45, 0x56, 0x07, 0xf2, 0xc5, 0x0a, 0xd0, 0x29, 0xd2,
};
// openssl dgst -sha256 -sign tests/keys/test-update-key.pem -out good.sig data.bin
const unsigned char kGoodSignature[] = {
    0x30, 0x45, 0x02, 0x21, 0x00, 0x80, 0x9c, 0x4e, 0x10, 0xaa, 0x98, 0xae, 0x75, 0xf8, 0xb3, 0x79,
    0x98, 0x20, 0xd3, 0x8f, 0x98, 0x8f, 0x62, 0x65, 0x6c, 0x7a, 0x6e, 0xfe, 0xe6, 0xe1, 0xd6, 0x8d,
    0x58, 0x96, 0x80, 0xc6, 0xa3, 0x02, 0x20, 0x1d, 0xf7, 0xb9, 0xf0, 0x1f, 0x01, 0xae, 0x9b, 0xf7,
    0x60, 0x22, 0x63, 0x54, 0xf1, 0x0d, 0xa9, 0x1b, 0x03, 0x44, 0x87, 0xc3, 0xd1, 0xd9, 0x7d, 0x0c,
    0x8c, 0xa4, 0x0b, 0x42, 0x13, 0x8c, 0x7f,
};
// The same with a throwaway key: openssl ecparam -name prime256v1 -genkey -noout -out other.pem
const unsigned char kOtherKeySignature[] = {
    0x30, 0x45, 0x02, 0x20, 0x07, 0x3b, 0xde, 0x1f, 0xe8, 0xbd, 0xd4, 0x93, 0x12, 0xca, 0x2b, 0xc6,
    0x95, 0xd8, 0xca, 0x4a, 0x7d, 0x74, 0x4a, 0x26, 0x62, 0xc0, 0xe5, 0x5d, 0x82, 0x9a, 0x78, 0x5e,
    0x79, 0xff, 0x8e, 0xdc, 0x02, 0x21, 0x00, 0xff, 0xeb, 0x38, 0x84, 0x12, 0x43, 0x75, 0xb9, 0x66,
    0x53, 0xf9, 0x3e, 0x72, 0xd3, 0x1e, 0xec, 0x78, 0x3f, 0x9d, 0xc8, 0xbc, 0xa3, 0x62, 0xea, 0x45,
    0x2a, 0xaa, 0x1b, 0xd3, 0x81, 0x6f, 0xaf,
};

std::string AsText(const unsigned char* bytes, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

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
        EXPECT_EQ(Bytes(kTestDataDigest, kTestDataDigest + 32), Bytes(digest, digest + 32));
    }
}

TEST(VerifyP256Signature, Table)
{
    const std::string data = TestData();
    std::string flippedData = data;
    flippedData[1000000] ^= 0x01;
    const std::string good = AsText(kGoodSignature, sizeof kGoodSignature);
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
        {"another key's signature", data, AsText(kOtherKeySignature, sizeof kOtherKeySignature),
         SignatureVerdict::Mismatch},
        {"empty .sig", data, "", SignatureVerdict::Malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Sha256 hash;
        unsigned char digest[32] = {};
        ASSERT_TRUE(hash.Update(c.file.data(), c.file.size()));
        ASSERT_TRUE(hash.Finish(digest));
        EXPECT_STREQ(Name(c.verdict), Name(VerifyP256Signature(kTestKey, digest, c.signature)));
    }
}

}  // namespace
