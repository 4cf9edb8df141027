#include "update/manifest/rollout_rules.h"
#include "update/manifest/version_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

VersionNumbers Numbers(const std::wstring& text)
{
    VersionNumbers numbers;
    SplitVersion(text.c_str(), L'.', numbers);
    return numbers;
}

TEST(RolloutRules, SyntaxAndWhoIsOffered)
{
    const struct {
        const wchar_t* rollout;
        std::optional<std::uint32_t> hundredths;
    } cases[] = {
        {L"0", 0u},        {L"0.5", 50u},     {L"12.25", 1225u},  {L"100", 10000u},    {L"100.00", 10000u},
        {L"007", 700u},    {L"99.99", 9999u}, {L"100.01", {}},    {L"101", {}},        {L"1000", {}},
        {L"-1", {}},       {L"+5", {}},       {L"5.", {}},        {L".5", {}},         {L"5.123", {}},
        {L"1e2", {}},      {L"5%", {}},       {L"", {}},          {L"1,5", {}},        {L"0x10", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hundredths, ParseRollout(c.rollout)) << std::string(c.rollout, c.rollout + wcslen(c.rollout));
    }
    // 12.25 admits places 0 to 1224; nothing is offered at 0, everything at 100.
    EXPECT_TRUE(IsOffered(1224, *ParseRollout(L"12.25")));
    EXPECT_FALSE(IsOffered(1225, *ParseRollout(L"12.25")));
    EXPECT_FALSE(IsOffered(0, *ParseRollout(L"0")));
    EXPECT_TRUE(IsOffered(9999, *ParseRollout(L"100")));
    // Worked out apart from the program: big-endian, decimal id, the version as written.
    EXPECT_EQ(9699u, RolloutPlace({1, 0, 0, 9}, 1234567890123456789ull));
    EXPECT_EQ(L"37.12", PlaceAsPercent(3712));
    EXPECT_EQ(L"0.05", PlaceAsPercent(5));
}

// The place belongs to the version, not its spelling; a version already written plainly hashes as before.
TEST(RolloutRules, EverySpellingOfAVersionHasOnePlace)
{
    const std::pair<std::wstring, std::wstring> spellings[] = {
        {L"1.0.0.9", L"1.0.0.9"},   {L"1.0.0.09", L"1.0.0.9"}, {L"1.0.0.9.", L"1.0.0.9"}, {L"01.00.000.9", L"1.0.0.9"},
        {L".1..0.0.9", L"1.0.0.9"}, {L"1.0.0.9x", L"1.0.0.9"}, {L"2.0.0.010", L"2.0.0.10"}};
    for (const auto& spelling : spellings) {
        EXPECT_EQ(spelling.second, CanonicalVersion(Numbers(spelling.first)));
        EXPECT_EQ(RolloutPlace(Numbers(spelling.second), 77), RolloutPlace(Numbers(spelling.first), 77)) << spelling.first;
    }
}

TEST(RolloutRules, PlacesSpreadEvenlyAndDifferPerRelease)
{
    int admitted = 0;
    int samePlace = 0;
    for (std::uint64_t id = 1; id <= 10000; ++id) {
        const std::uint64_t installId = id * 0x9E3779B97F4A7C15ull;  // ids spread over 64 bits
        const std::uint32_t place = RolloutPlace({1, 0, 0, 9}, installId);
        admitted += IsOffered(place, 2500) ? 1 : 0;
        samePlace += place == RolloutPlace({1, 0, 0, 10}, installId) ? 1 : 0;
    }
    EXPECT_GE(admitted, 2350);
    EXPECT_LE(admitted, 2650);
    EXPECT_LT(samePlace, 10) << "another release draws another group";
}

}  // namespace
