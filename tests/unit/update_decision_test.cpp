#include "update/update_decision.h"

#include "app/command_line_options.h"
#include "update/manifest/manifest_value.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kBase[] = L"http://127.0.0.1:9/update/";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class UpdateDecisionTest : public ::testing::Test {
protected:
    void WriteManifest(const std::string& text) { manifest_ = text; }

    // A manifest with section "main" and the given keys (null: key absent).
    void WriteMain(const char* version, const char* miniver, const char* newest = "http://127.0.0.1:9/full/setup.exe")
    {
        std::string text = "[other]\r\nversion=9.9.9.9\r\nminiver=9.9.9.9\r\n[main]\r\n";
        if (version != nullptr) {
            text += std::string("version=") + version + "\r\n";
        }
        if (miniver != nullptr) {
            text += std::string("miniver=") + miniver + "\r\n";
        }
        if (newest != nullptr) {
            text += std::string("newest=") + newest + "\r\n";
        }
        WriteManifest(text);
    }

    // The options the entry point reads from the command line, the manifest
    // as the cycle reads it, and the decision on both.
    UpdatePlan Decide(const std::wstring& commandLine, const std::string& manifest,
                      const std::wstring& baseUrl = kBase)
    {
        const ManifestValues values = ParseManifest(manifest).main;
        return DecideUpdate(ReadUpdateOptions(commandLine.c_str()).installedVersion, values, baseUrl);
    }
    UpdatePlan Decide(const std::wstring& commandLine) { return Decide(commandLine, manifest_); }
    UpdatePlan DecideInstalled(const std::wstring& installed)
    {
        return Decide(L"\"C:\\Program Files\\Velmar\\VelmarUpdate.exe\" /w:1 /v:" + installed + L" /j:2");
    }

    static std::wstring PatchUrl(const std::wstring& installed, const std::wstring& version)
    {
        return kBase + installed + L"-" + version + L"/velmar.diff";
    }

    void ExpectNothing(const UpdatePlan& o)
    {
        EXPECT_EQ(PackageKind::None, o.kind);
        EXPECT_EQ(L"", o.url);
    }
    void ExpectPatch(const UpdatePlan& o, const std::wstring& installed, const std::wstring& version)
    {
        EXPECT_EQ(PackageKind::Patch, o.kind);
        EXPECT_EQ(PatchUrl(installed, version), o.url);
        EXPECT_EQ(version, o.version);
        EXPECT_EQ(installed + L"-" + version + L"/velmar.diff", o.manifestKey);
    }
    void ExpectFull(const UpdatePlan& o, const std::wstring& url)
    {
        EXPECT_EQ(PackageKind::Full, o.kind);
        EXPECT_EQ(url, o.url);
        EXPECT_EQ(L"newest", o.manifestKey);
    }

    std::string manifest_;
};

TEST_F(UpdateDecisionTest, WorkedExamples)
{
    WriteMain("1.0.0.9", "1.0.0.0");
    {
        SCOPED_TRACE("installed 1.0.0.5: patch");
        const UpdatePlan o = DecideInstalled(L"1.0.0.5");
        ExpectPatch(o, L"1.0.0.5", L"1.0.0.9");
        EXPECT_EQ(std::wstring(kBase) + L"1.0.0.5-1.0.0.9/velmar.diff", o.url);
    }
    {
        SCOPED_TRACE("installed 0.9.9.9: full package");
        ExpectFull(DecideInstalled(L"0.9.9.9"), L"http://127.0.0.1:9/full/setup.exe");
    }
    for (const wchar_t* installed : {L"1.0.0.9", L"1.0.0.10", L"1.0.0.9.0", L"1.0.0.9x", L"2.0.0.0"}) {
        SCOPED_TRACE(Narrow(installed));
        ExpectNothing(DecideInstalled(installed));
    }
    {
        SCOPED_TRACE("installed 1.0.0.05 goes into the URL as given");
        ExpectPatch(DecideInstalled(L"1.0.0.05"), L"1.0.0.05", L"1.0.0.9");
    }

    WriteMain("1.0.0.12", "1.0.0.0");
    ExpectNothing(DecideInstalled(L"1.0.1.0"));  // the third number decides; no downgrade

    WriteMain("1.0.0.9", nullptr);
    ExpectNothing(DecideInstalled(L"1.0.0.5"));  // "miniver" absent reads "0": invalid

    WriteMain("1.0.0.5", "1.0.0.0");
    ExpectNothing(DecideInstalled(L"1.0.0.5.7"));  // only four numbers count
}

TEST_F(UpdateDecisionTest, DecisionTable)
{
    const struct {
        const char* label;
        const char* version;
        const char* miniver;
        const char* newest;
        const wchar_t* installed;
        char expected;  // 'n' nothing, 'p' patch, 'f' full package
        const wchar_t* fullUrl;
    } cases[] = {
        {"full_even_when_version_older_than_miniver", "1.5.0.0", "2.0.0.0", "http://h/a/b.exe", L"1.0.0.0", 'f',
         L"http://h/a/b.exe"},
        {"full_with_newest_absent", "1.5.0.0", "2.0.0.0", nullptr, L"1.0.0.0", 'f', L""},
        {"full_newest_any_text", "1.0.0.9", "1.0.0.1", "ftp:a b/c", L"1.0.0.0", 'f', L"ftp:a b/c"},
        {"patch_when_installed_equals_miniver", "1.0.0.9", "1.0.0.5", nullptr, L"1.0.0.5", 'p', nullptr},
        {"nothing_when_version_equals_installed", "1.0.0.9", "1.0.0.5", nullptr, L"1.0.0.9", 'n', nullptr},
        {"nothing_when_version_older", "1.0.0.9", "1.0.0.5", nullptr, L"1.0.0.10", 'n', nullptr},
        {"version_invalid_three", "1.2.3", "1.0.0.0", nullptr, L"1.0.0.0", 'n', nullptr},
        {"version_invalid_five", "2.0.0.0.0", "1.0.0.0", nullptr, L"1.0.0.0", 'n', nullptr},
        {"version_empty", "", "1.0.0.0", nullptr, L"1.0.0.0", 'n', nullptr},
        {"version_absent", nullptr, "1.0.0.0", nullptr, L"1.0.0.0", 'n', nullptr},
        {"miniver_invalid_even_if_full_would_follow", "2.0.0.0", "3.0.0", nullptr, L"1.0.0.0", 'n', nullptr},
        {"miniver_absent", "2.0.0.0", nullptr, nullptr, L"1.0.0.0", 'n', nullptr},
        {"version_double_stop", "1..2.3.4", "1.0.0.0", nullptr, L"1.2.3.3", 'p', nullptr},
        {"version_double_stop_equal", "1..2.3.4", "1.0.0.0", nullptr, L"1.2.3.4", 'n', nullptr},
        {"version_outer_stops", ".1.2.3.4.", "1.0.0.0", nullptr, L"1.2.3.3", 'p', nullptr},
        {"version_outer_stops_equal", ".1.2.3.4.", "1.0.0.0", nullptr, L"1.2.3.4", 'n', nullptr},
        {"version_letters_are_zeros", "a.b.c.d", "-1.0.0.0", nullptr, L"-1.0.0.0", 'p', nullptr},
        {"version_letters_equal_zeros", "a.b.c.d", "a.b.c.d", nullptr, L"0.0.0.0", 'n', nullptr},
        {"version_trailing_letter", "1.0.0.9x", "1.0.0.0", nullptr, L"1.0.0.8", 'p', nullptr},
        {"version_trailing_letter_equal", "1.0.0.9x", "1.0.0.0", nullptr, L"1.0.0.9", 'n', nullptr},
        {"saturated_versions_equal", "1.0.0.99999999999", "1.0.0.0", nullptr, L"1.0.0.2147483648", 'n', nullptr},
        {"saturated_installed_equal", "1.0.0.2147483647", "1.0.0.0", nullptr, L"1.0.0.99999999999", 'n', nullptr},
        {"largest_number_newer", "1.0.0.2147483647", "1.0.0.0", nullptr, L"1.0.0.2147483646", 'p', nullptr},
        // The installed version is not validated: missing numbers count as 0.
        {"short_installed_patch", "1.2.0.1", "1.0.0.0", nullptr, L"1.2", 'p', nullptr},
        {"short_installed_equal", "1.2.0.0", "1.0.0.0", nullptr, L"1.2", 'n', nullptr},
        {"short_installed_full", "1.0.0.9", "1.0.0.1", "http://h/f.exe", L"1", 'f', L"http://h/f.exe"},
        {"short_installed_newer", "1.0.0.9", "1.0.0.1", nullptr, L"9", 'n', nullptr},
        {"letters_installed_is_zero", "1.0.0.9", "0.0.0.0", nullptr, L"beta", 'p', nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.newest != nullptr) {
            WriteMain(c.version, c.miniver, c.newest);
        } else {
            WriteMain(c.version, c.miniver, nullptr);
        }
        const UpdatePlan o = DecideInstalled(c.installed);
        if (c.expected == 'p') {
            ExpectPatch(o, c.installed, std::wstring(c.version, c.version + std::strlen(c.version)));
        } else if (c.expected == 'f') {
            ExpectFull(o, c.fullUrl);
        } else {
            ExpectNothing(o);
        }
    }
}

TEST_F(UpdateDecisionTest, NoUsableInstalledVersionMeansNothing)
{
    WriteMain("1.0.0.9", "1.0.0.0");
    const wchar_t* commandLines[] = {
        L"\"C:\\app\\VelmarUpdate.exe\" /w:1 /j:2",  // no "/v:"
        L"\"C:\\app\\VelmarUpdate.exe\" /v: /w:1",   // empty
        L"\"C:\\app\\VelmarUpdate.exe\" /v:",        // empty at the end
        L"\"C:\\app\\VelmarUpdate.exe\" /V:1.0.0.5", // switches are case-sensitive
        L"\"C:\\app\\VelmarUpdate.exe\" /v:...",     // no number at all
    };
    for (const wchar_t* commandLine : commandLines) {
        SCOPED_TRACE(Narrow(commandLine));
        ExpectNothing(Decide(commandLine));
    }
    // The same manifest with an installed version gives a patch.
    ExpectPatch(Decide(L"\"C:\\app\\VelmarUpdate.exe\" /v:1.0.0.5"), L"1.0.0.5", L"1.0.0.9");
}

TEST_F(UpdateDecisionTest, MissingOrForeignManifestReadsAsAbsent)
{
    ExpectNothing(Decide(L"u.exe /v:1.0.0.5", std::string()));
    WriteManifest("[other]\r\nversion=9.0.0.0\r\nminiver=1.0.0.0\r\n");
    ExpectNothing(DecideInstalled(L"1.0.0.5"));
    // Section and key names are not case-sensitive in a private-profile file.
    WriteManifest("[MAIN]\r\nVersion = 1.0.0.9\r\nMINIVER=1.0.0.0\r\n");
    ExpectPatch(DecideInstalled(L"1.0.0.5"), L"1.0.0.5", L"1.0.0.9");
}

TEST_F(UpdateDecisionTest, ValuesTooLongToHoldAreRefusedNotCut)
{
    const std::string longVersion = "1.0.0." + std::string(300, '9');
    const std::string longNewest = "http://127.0.0.1:9/" + std::string(2100, 'n');
    WriteMain(longVersion.c_str(), "2.0.0.0", longNewest.c_str());
    ExpectNothing(DecideInstalled(L"1.0.0.0"));  // the version's first 258 characters would be another version
    // The full package is chosen, but its cut URL would name another file: none is used.
    WriteMain("1.0.0.9", "2.0.0.0", longNewest.c_str());
    ExpectFull(DecideInstalled(L"1.0.0.0"), L"");
    // A newest of exactly 2083 characters is used as it is.
    const std::string longestNewest = longNewest.substr(0, 2083);
    WriteMain("1.0.0.9", "2.0.0.0", longestNewest.c_str());
    ExpectFull(DecideInstalled(L"1.0.0.0"), std::wstring(longestNewest.begin(), longestNewest.end()));
}

TEST_F(UpdateDecisionTest, LongestVersionsFitThePatchUrl)
{
    // 258 characters each, still four numbers.
    const std::string version = "2." + std::string(251, '0') + "1.0.0";
    const std::wstring installed = L"1." + std::wstring(251, L'0') + L"1.0.0";
    ASSERT_EQ(258u, version.size());
    ASSERT_EQ(258u, installed.size());
    WriteMain(version.c_str(), "0.0.0.0");
    const std::wstring wideVersion(version.begin(), version.end());
    ExpectPatch(DecideInstalled(installed), installed, wideVersion);
}

TEST_F(UpdateDecisionTest, PatchUrlTooLongIsNeverCut)
{
    const std::wstring base = L"http://127.0.0.1:9/" + std::wstring(1800, L'b') + L"/update/";
    WriteMain("1.0.0.9", "1.0.0.0");
    const UpdatePlan o = Decide(L"u.exe /v:1.0.0." + std::wstring(249, L'0') + L"5", manifest_, base);
    const std::wstring whole = base + L"1.0.0." + std::wstring(249, L'0') + L"5" + L"-1.0.0.9/velmar.diff";
    ASSERT_GT(whole.size(), 2083u);
    EXPECT_EQ(PackageKind::Patch, o.kind);
    EXPECT_EQ(L"", o.url);  // the cycle then ends with 3 before any request
}

}  // namespace
