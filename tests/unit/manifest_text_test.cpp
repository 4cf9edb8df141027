#include "update/manifest/manifest_text.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring ApiValue(const std::wstring& path, const std::wstring& section, const std::wstring& key)
{
    wchar_t buffer[512] = {};
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<absent>", buffer, 512, path.c_str());
    return buffer;
}

// The parse in memory must read every manifest as the Windows profile reader
// reads the same bytes from a file: the vendor's manifests are written for it.
TEST(ManifestText, ReadsAsTheProfileApiReads)
{
    const char* const manifests[] = {
        "[Main]\r\n  VERSION =  1.0.0.9 \r\nMiniVer\t=\t1.0.0.0\t\r\n",
        "[main]\nversion=1.0.0.1\nversion=1.0.0.2\n[main]\nversion=1.0.0.3\nminiver=1.0.0.4\n",
        "[main]\r\nnewest=\"http://h/a b.exe\"\r\nversion='1.0.0.9'\r\nminiver=\"1.0\r\nserial=\"\"\r\nexpires=\"a\"b\"\r\n",
        "version=9.9.9.9\r\n; [main]\r\n[main]\r\n;version=1.0.0.7\r\n  ; miniver=1\r\nversion=1.0.0.8\r\n",
        "[main]\rversion=1.0.0.9\rminiver=1.0.0.0\r",
        "[main]\r\nversion\r\nminiver=\r\nnewest=http://h/x?a=b=c\r\n",
        "[ main ]\r\nversion=1.0.0.1\r\n[main] ; note\r\nversion=1.0.0.2\r\n",
        "\xEF\xBB\xBF[main]\r\nversion=1.0.0.9\r\n",
        "[main]\r\nversion=1.0.0.9\r\n[SHA256]\r\n1.0.0.5-1.0.0.9/Velmar.diff = ab\r\n1.0.0.5-1.0.0.9/velmar.diff=cd\r\n",
        "[main]\r\n[\r\nversion=1.0.0.9\r\n",
    };
    const std::pair<const wchar_t*, const wchar_t*> lookups[] = {
        {L"main", L"version"}, {L"main", L"miniver"}, {L"main", L"newest"}, {L"main", L"serial"},
        {L"main", L"expires"}, {L" main ", L"\tversion "}, {L"sha256", L"1.0.0.5-1.0.0.9/velmar.diff"},
    };
    ScratchFolder folder;
    for (const char* manifest : manifests) {
        const std::wstring path = folder.Write(L"version.ini", manifest);
        const ProfileText text{std::string(manifest)};
        for (const auto& lookup : lookups) {
            EXPECT_EQ(ApiValue(path, lookup.first, lookup.second),
                      text.Value(lookup.first, lookup.second).value_or(L"<absent>"))
                << manifest << " [" << std::string(lookup.first, lookup.first + wcslen(lookup.first)) << "]";
        }
    }
}

// The shared cases that tools/sign-release is tested on too: each value the updater must read, as the
// profile API does.
TEST(ManifestText, TrickyManifestsGiveTheirValues)
{
    const std::vector<std::vector<std::string>> cases = {  // refused line, manifest, then section, key, value
#include "tricky_manifests.inc"
    };
    ScratchFolder folder;
    for (const auto& field : cases) {
        for (std::size_t r = 2; r + 2 < field.size(); r += 3) {
            const std::wstring section(field[r].begin(), field[r].end());
            const std::wstring key(field[r + 1].begin(), field[r + 1].end());
            const std::wstring expected(field[r + 2].begin(), field[r + 2].end());
            EXPECT_EQ(expected, ApiValue(folder.Write(L"version.ini", field[1]), section, key)) << field[1];
            EXPECT_EQ(expected, ProfileText(field[1]).Value(section, key).value_or(L"<absent>")) << field[1];
        }
    }
}

}  // namespace
