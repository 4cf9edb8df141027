#include "update/manifest/manifest_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ManifestRules, ParsesSerialsTimesAndHashesExactly)
{
    EXPECT_EQ(1u, ParseManifestSerial(L"1"));
    EXPECT_EQ(0x7FFFFFFFFFFFFFFFull, ParseManifestSerial(L"9223372036854775807"));
    for (const wchar_t* bad : {L"", L"0", L"-5", L"+5", L" 5", L"5 ", L"1e9", L"9223372036854775808", L"0x10"}) {
        EXPECT_FALSE(ParseManifestSerial(bad)) << bad;
    }
    EXPECT_EQ(0, ParseManifestTime(L"1970-01-01T00:00:00Z"));
    EXPECT_EQ(1798502400, ParseManifestTime(L"2026-12-29T00:00:00Z"));
    EXPECT_EQ(951782400 + 86399, ParseManifestTime(L"2000-02-29T23:59:59Z"));  // a leap day
    for (const wchar_t* bad : {L"2027-01-06T00:00:00", L"2027-01-06 00:00:00Z", L"2027-1-06T00:00:00Z",
                               L"2027-13-01T00:00:00Z", L"2027-02-29T00:00:00Z", L"2100-02-29T00:00:00Z",
                               L"2027-01-06T24:00:00Z", L"2027-01-06T00:60:00Z", L"2027-01-06T00:00:60Z",
                               L"2027-01-00T00:00:00Z", L"2027-01-06T00:00:00z", L"1969-12-31T23:59:59Z"}) {
        EXPECT_FALSE(ParseManifestTime(bad)) << bad;
    }
    const std::wstring hex = L"00ff7F80" + std::wstring(48, L'a') + L"0123ABCD";
    const auto digest = ParseSha256Hex(hex);
    ASSERT_TRUE(digest);
    EXPECT_EQ(0x00, (*digest)[0]);
    EXPECT_EQ(0xFF, (*digest)[1]);
    EXPECT_EQ(0x7F, (*digest)[2]);
    EXPECT_EQ(0xCD, (*digest)[31]);
    for (const std::wstring& bad : {hex.substr(1), hex + L"0", hex.substr(0, 63) + L"g", std::wstring()}) {
        EXPECT_FALSE(ParseSha256Hex(bad)) << bad;
    }
    EXPECT_FALSE(ParsePackageSize(L"0"));
    EXPECT_EQ(5000000000ull, ParsePackageSize(L"0005000000000"));
}

TEST(ManifestRules, VerdictForEachMissingOrBadField)
{
    const std::int64_t now = 1796601600;  // 2026-12-07
    const std::wstring future = L"2027-01-06T00:00:00Z";
    const struct {
        const wchar_t* serial;
        std::wstring expires;
        std::optional<std::uint64_t> accepted;
        ManifestVerdict verdict;
    } cases[] = {
        {L"20", future, std::nullopt, ManifestVerdict::Accepted},
        {L"20", future, 20u, ManifestVerdict::Accepted},
        {L"20", future, 19u, ManifestVerdict::Accepted},
        {L"20", future, 21u, ManifestVerdict::SerialLower},
        {L"", future, std::nullopt, ManifestVerdict::BadSerial},
        {L"x", L"", 21u, ManifestVerdict::BadSerial},  // the serial is judged first
        {L"20", L"", std::nullopt, ManifestVerdict::BadExpiry},
        {L"20", L"2027-01-06", 21u, ManifestVerdict::BadExpiry},
        {L"20", L"2026-12-07T00:00:00Z", std::nullopt, ManifestVerdict::Expired},  // exactly now
        {L"20", L"2020-01-01T00:00:00Z", 21u, ManifestVerdict::Expired},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.verdict, JudgeManifest(ParseManifestSerial(c.serial), ParseManifestTime(c.expires), now, c.accepted)) << c.serial << " " << c.expires;
    }
}

}  // namespace
