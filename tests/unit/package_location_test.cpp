#include "update/http_download.h"
#include "update/package_location.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PackageLocation, FileNameIsEverythingAfterTheLastSlash)
{
    std::wstring name;
    EXPECT_FALSE(FileNameFromUrl(L"0", name));
    EXPECT_FALSE(FileNameFromUrl(L"", name));
    ASSERT_TRUE(FileNameFromUrl(L"http://h/update/1.0-2.0/velmar.diff", name));
    EXPECT_EQ(L"velmar.diff", name);
    ASSERT_TRUE(FileNameFromUrl(L"http://h/dir/", name));
    EXPECT_EQ(L"", name);
    ASSERT_TRUE(FileNameFromUrl(L"http://h/a\\..\\evil.exe", name));
    EXPECT_EQ(L"a\\..\\evil.exe", name);
}

TEST(PackageLocation, OnlyPlainNamesPass)
{
    const struct {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"velmar.diff", true},
        {L"VelmarSetup 2.0.exe", true},
        {L"\u4e2d\u6587.exe", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"..\\evil.exe", false},
        {L"a:b", false},
        {L"a*b", false},
        {L"a?b", false},
        {L"a\"b", false},
        {L"a<b", false},
        {L"a>b", false},
        {L"a|b", false},
        {L"a\tb", false},
        {std::wstring(L"a") + wchar_t(0x1f), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.plain, IsPlainFileName(c.name)) << c.name;
    }
}

TEST(PackageLocation, OnlyHttpSchemes)
{
    EXPECT_TRUE(HasHttpScheme(L"http://127.0.0.1/x.exe"));
    EXPECT_TRUE(HasHttpScheme(L"https://host/x.exe"));
    EXPECT_TRUE(HasHttpScheme(L"HTTP://host/x.exe"));
    EXPECT_FALSE(HasHttpScheme(L"file:///C:/x.exe"));
    EXPECT_FALSE(HasHttpScheme(L"ftp://host/x.exe"));
    EXPECT_FALSE(HasHttpScheme(L"http:/host/x.exe"));
    EXPECT_FALSE(HasHttpScheme(L"C:\\x\\y.exe"));
    EXPECT_FALSE(HasHttpScheme(L"0"));
}

TEST(PackageLocation, PathMustFitItsBuffer)
{
    const std::wstring folder = L"C:\\T\\123";
    EXPECT_EQ(L"C:\\T\\123\\a.exe", JoinPackagePath(folder, L"a.exe", 260));
    const std::wstring fits(260 - 1 - folder.size() - 1, L'n');
    EXPECT_EQ(259u, JoinPackagePath(folder, fits, 260).size());
    EXPECT_EQ(L"", JoinPackagePath(folder, fits + L"n", 260));
}

TEST(HttpDownload, CompleteOnlyFor200WithTheAnnouncedLength)
{
    EXPECT_TRUE(IsCompleteDownload(200, true, 10, 10));
    EXPECT_TRUE(IsCompleteDownload(200, false, 0, 12345));
    EXPECT_TRUE(IsCompleteDownload(200, true, 0, 0));
    EXPECT_FALSE(IsCompleteDownload(200, true, 10, 9));
    EXPECT_FALSE(IsCompleteDownload(200, true, 10, 11));
    EXPECT_FALSE(IsCompleteDownload(404, true, 9, 9));
    EXPECT_FALSE(IsCompleteDownload(206, false, 0, 9));
    EXPECT_TRUE(IsCompleteDownload(200, true, 5000000000ULL, 5000000000ULL));
}

}  // namespace
