#include "update/manifest/version_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::int32_t kMax = 2147483647;
constexpr std::int32_t kMin = -2147483647 - 1;

struct SplitCase {
    const wchar_t* text;
    wchar_t separator;
    VersionNumbers numbers;
};

TEST(VersionRules, SplitVersionTable)
{
    const SplitCase cases[] = {
        {L"1.2.3.4", L'.', {1, 2, 3, 4}},
        {L"1.0.0.10", L'.', {1, 0, 0, 10}},
        {L"1..2.3.4", L'.', {1, 2, 3, 4}},
        {L".1.2.3.4.", L'.', {1, 2, 3, 4}},
        {L"a.b.c.d", L'.', {0, 0, 0, 0}},
        {L"1.0.0.9x", L'.', {1, 0, 0, 9}},
        {L"4b", L'.', {4}},
        {L" 7. +8.-9.- 1", L'.', {7, 8, -9, 0}},
        {L"007.0x1A.1e3", L'.', {7, 0, 1}},
        {L"2147483647.2147483648.99999999999999999999.-2147483649", L'.', {kMax, kMax, kMax, kMin}},
        {L"1.2.3.4.5", L'.', {1, 2, 3, 4, 5}},
        {L"0", L'.', {0}},
        {L"1-2--3-", L'-', {1, 2, 3}},
        {L"1.2-3", L'-', {1, 3}},  // "1.2" reads as 1, like wcstol
        {L"", L'.', {}},
        {L"...", L'.', {}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        VersionNumbers numbers;
        EXPECT_EQ(!c.numbers.empty(), SplitVersion(c.text, c.separator, numbers));
        EXPECT_EQ(c.numbers, numbers);
    }
}

TEST(VersionRules, SplitVersionAppendsToTheList)
{
    VersionNumbers numbers{9};
    EXPECT_TRUE(SplitVersion(L"...", L'.', numbers));  // non-empty afterwards, though nothing was added
    EXPECT_TRUE(SplitVersion(L"1.2", L'.', numbers));
    EXPECT_EQ((VersionNumbers{9, 1, 2}), numbers);
}

TEST(VersionRules, IsValidVersionWantsExactlyFourNumbers)
{
    const struct {
        const wchar_t* text;
        bool valid;
    } cases[] = {
        {L"1.0.0.5", true},      {L"1..2.3.4", true}, {L".1.2.3.4.", true}, {L"a.b.c.d", true},
        {L"1.0.0.9x", true},     {L"-1.-2.-3.-4", true},
        {L"99999999999.0.0.0", true},
        {L"1.2.3", false},       {L"1.2.3.4.5", false}, {L"0", false},        {L"", false},
        {L"....", false},        {L"1.2.3.", false},    {L"1 2 3 4", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(c.valid, ParseManifestVersion(c.text).has_value());
    }
}

TEST(VersionRules, IsNewerVersionComparesTheFirstFourNumbers)
{
    const struct {
        VersionNumbers a;
        VersionNumbers b;
        bool newer;
    } cases[] = {
        {{1, 0, 0, 10}, {1, 0, 0, 9}, true},
        {{1, 0, 0, 9}, {1, 0, 0, 10}, false},
        {{1, 0, 0, 9}, {1, 0, 0, 9}, false},
        {{2, 0, 0, 0}, {1, 9, 9, 9}, true},
        {{1, 9, 9, 9}, {2, 0, 0, 0}, false},
        {{1, 0, 1, 0}, {1, 0, 0, 12}, true},
        {{0, 0, 0, 0}, {-1, 0, 0, 0}, true},
        {{kMin, 0, 0, 0}, {kMax, 0, 0, 0}, false},
        {{kMax, 0, 0, 0}, {kMin, 0, 0, 0}, true},
        {{1, 2, 3, 4, 9}, {1, 2, 3, 4}, false},  // a fifth number never counts
        {{1, 2, 3, 4}, {1, 2, 3, 4, 9}, false},
        {{1, 2, 3, 3, 9}, {1, 2, 3, 4, 0}, false},
        // Short lists count missing numbers as 0.
        {{1, 2}, {1, 2, 0, 0}, false},
        {{1, 2, 0, 0}, {1, 2}, false},
        {{1, 2, 0, 1}, {1, 2}, true},
        {{1, 2}, {1, 1, 9, 9}, true},
        {{0, 0, 0, 1}, {}, true},
        {{}, {0, 0, 0, -1}, true},
        {{}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
        EXPECT_EQ(c.newer, IsNewerVersion(c.a, c.b));
    }
}

}  // namespace
