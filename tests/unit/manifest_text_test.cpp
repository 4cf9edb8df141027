#include "update/manifest_text.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// tests/data/tricky_manifests.txt, built in by tests/CMakeLists.txt.
const char kTrickyManifests[] =
#include "tricky_manifests.inc"
    ;

std::wstring ApiValue(const std::wstring& path, const std::wstring& section, const std::wstring& key)
{
    wchar_t buffer[512] = {};
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"<absent>", buffer, 512, path.c_str());
    return buffer;
}

// The shared file's escapes: \r, \n, \\ and \xNN.
std::string Unescaped(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
        } else if (text[++i] == 'x') {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : text[i];
        }
    }
    return bytes;
}

// One field of a "read:" line, without the blanks around it.
std::wstring Field(std::string text)
{
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    const std::string bytes = Unescaped(text);
    return std::wstring(bytes.begin(), bytes.end());
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

// The cases tools/sign-release is tested on too: each value holds for the profile API and the updater.
TEST(ManifestText, TrickyManifestsGiveTheirValues)
{
    ScratchFolder folder;
    std::string ini;
    std::wstring path;
    int reads = 0;
    std::istringstream lines(kTrickyManifests);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ini: ", 0) == 0) {
            ini = Unescaped(line.substr(5));
            path = folder.Write(L"version.ini", ini);
        } else if (line.rfind("read: ", 0) == 0) {
            const std::size_t bar = line.find('|');
            const std::size_t bar2 = line.find('|', bar + 1);
            const std::wstring section = Field(line.substr(6, bar - 6));
            const std::wstring key = Field(line.substr(bar + 1, bar2 - bar - 1));
            const std::wstring expected = Field(line.substr(bar2 + 1));
            EXPECT_EQ(expected, ApiValue(path, section, key)) << line;
            EXPECT_EQ(expected, ProfileText(ini).Value(section, key).value_or(L"<absent>")) << line;
            ++reads;
        }
    }
    EXPECT_GE(reads, 20);
}

}  // namespace
