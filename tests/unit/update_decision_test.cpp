#include "update/update_decision.h"

#include "host_window_recorder.h"
#include "log/update_log.h"
#include "update/host_messages.h"

#include <windows.h>

#include "test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kBase[] = L"http://127.0.0.1:9/update/";
constexpr wchar_t kUntouched[] = L"<untouched>";

// Every manifest read goes through here to the real private-profile reader.
struct ProfileRead {
    std::wstring key;
    DWORD size;
};
std::vector<ProfileRead> g_reads;

DWORD WINAPI CountingReader(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue, LPWSTR buffer, DWORD size,
                            LPCWSTR path)
{
    g_reads.push_back({key, size});
    EXPECT_EQ(std::wstring(L"main"), section);
    EXPECT_EQ(std::wstring(L"0"), defaultValue);
    return ::GetPrivateProfileStringW(section, key, defaultValue, buffer, size, path);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Outcome {
    int result = -1;
    int bFullPackage = 7;
    std::wstring patchUrl;
    std::wstring fullPackageUrl;
    std::vector<std::wstring> texts;
    std::wstring patchUrlAtNotification = L"<no notification>";
    std::vector<std::wstring> keysRead;
};

class UpdateDecisionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        manifest_ = folder_.Path() + L"\\version.ini";
        g_reads.clear();
        g_hHostWnd = host_.Window();
    }
    void TearDown() override { g_hHostWnd = nullptr; }

    void WriteManifest(const std::string& text) { ASSERT_TRUE(WriteWholeFile(manifest_, text)); }

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

    Outcome Decide(const std::wstring& commandLine, const std::wstring& manifestPath,
                   const std::wstring& baseUrl = kBase)
    {
        Outcome outcome;
        std::vector<wchar_t> patch(kUrlBufferChars, L'\0');
        std::vector<wchar_t> full(kUrlBufferChars, L'\0');
        std::wstring(kUntouched).copy(patch.data(), std::wcslen(kUntouched));
        std::wstring(kUntouched).copy(full.data(), std::wcslen(kUntouched));
        host_.messages.clear();
        host_.onMessage = [&] { outcome.patchUrlAtNotification = patch.data(); };
        g_reads.clear();
        outcome.result = DecideUpdateFor(commandLine.c_str(), baseUrl.c_str(), &CountingReader, manifestPath.c_str(),
                                         patch.data(), outcome.bFullPackage, full.data());
        host_.onMessage = nullptr;
        outcome.patchUrl = patch.data();
        outcome.fullPackageUrl = full.data();
        outcome.texts = host_.Texts();
        for (const ProfileRead& read : g_reads) {
            outcome.keysRead.push_back(read.key);
        }
        return outcome;
    }
    Outcome Decide(const std::wstring& commandLine) { return Decide(commandLine, manifest_); }
    Outcome DecideInstalled(const std::wstring& installed)
    {
        return Decide(L"\"C:\\Program Files\\Velmar\\VelmarUpdate.exe\" /w:1 /v:" + installed + L" /j:2");
    }

    static std::wstring PatchUrl(const std::wstring& installed, const std::wstring& version)
    {
        return kBase + installed + L"-" + version + L"/velmar.diff";
    }

    void ExpectNothing(const Outcome& o)
    {
        EXPECT_EQ(0, o.result);
        EXPECT_EQ(0, o.bFullPackage);
        EXPECT_EQ(kUntouched, o.patchUrl);
        EXPECT_EQ(kUntouched, o.fullPackageUrl);
        EXPECT_TRUE(o.texts.empty());
    }
    void ExpectPatch(const Outcome& o, const std::wstring& installed, const std::wstring& version)
    {
        EXPECT_EQ(1, o.result);
        EXPECT_EQ(0, o.bFullPackage);
        EXPECT_EQ(PatchUrl(installed, version), o.patchUrl);
        EXPECT_EQ(kUntouched, o.fullPackageUrl);
        EXPECT_EQ(std::vector<std::wstring>{L"OnUpdateAvailable;" + version}, o.texts);
        // The host heard of the update while the URL was still unwritten.
        EXPECT_EQ(kUntouched, o.patchUrlAtNotification);
        EXPECT_EQ((std::vector<std::wstring>{L"version", L"miniver"}), o.keysRead);
    }
    void ExpectFull(const Outcome& o, const std::wstring& url)
    {
        EXPECT_EQ(1, o.result);
        EXPECT_EQ(1, o.bFullPackage);
        EXPECT_EQ(url, o.fullPackageUrl);
        EXPECT_EQ(kUntouched, o.patchUrl);
        EXPECT_TRUE(o.texts.empty()) << "a full package is not announced";
        EXPECT_EQ((std::vector<std::wstring>{L"version", L"miniver", L"newest"}), o.keysRead);
    }

    ScratchFolder folder_;
    std::wstring manifest_;
    HostWindowRecorder host_;
};

TEST_F(UpdateDecisionTest, WorkedExamples)
{
    WriteMain("1.0.0.9", "1.0.0.0");
    {
        SCOPED_TRACE("installed 1.0.0.5: patch");
        const Outcome o = DecideInstalled(L"1.0.0.5");
        ExpectPatch(o, L"1.0.0.5", L"1.0.0.9");
        EXPECT_EQ(std::wstring(kBase) + L"1.0.0.5-1.0.0.9/velmar.diff", o.patchUrl);
    }
    {
        SCOPED_TRACE("installed 0.9.9.9: full package");
        ExpectFull(DecideInstalled(L"0.9.9.9"), L"http://127.0.0.1:9/full/setup.exe");
    }
    for (const wchar_t* installed : {L"1.0.0.9", L"1.0.0.10", L"1.0.0.9.0", L"1.0.0.9x", L"2.0.0.0"}) {
        SCOPED_TRACE(Narrow(installed));
        const Outcome o = DecideInstalled(installed);
        ExpectNothing(o);
        EXPECT_EQ((std::vector<std::wstring>{L"version", L"miniver"}), o.keysRead);
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
        {"full_with_newest_absent", "1.5.0.0", "2.0.0.0", nullptr, L"1.0.0.0", 'f', L"0"},
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
        const Outcome o = DecideInstalled(c.installed);
        if (c.expected == 'p') {
            ExpectPatch(o, c.installed, std::wstring(c.version, c.version + std::strlen(c.version)));
        } else if (c.expected == 'f') {
            ExpectFull(o, c.fullUrl);
        } else {
            ExpectNothing(o);
        }
    }
}

TEST_F(UpdateDecisionTest, NoInstalledVersionLeavesTheManifestUnread)
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
        const Outcome o = Decide(commandLine);
        ExpectNothing(o);
        EXPECT_TRUE(o.keysRead.empty());
    }
    // The same manifest with an installed version does get read.
    ExpectPatch(Decide(L"\"C:\\app\\VelmarUpdate.exe\" /v:1.0.0.5"), L"1.0.0.5", L"1.0.0.9");
}

TEST_F(UpdateDecisionTest, MissingOrForeignManifestReadsAsAbsent)
{
    ExpectNothing(Decide(L"u.exe /v:1.0.0.5", folder_.Path() + L"\\no-such-file.ini"));
    WriteManifest("[other]\r\nversion=9.0.0.0\r\nminiver=1.0.0.0\r\n");
    ExpectNothing(DecideInstalled(L"1.0.0.5"));
    // Section and key names are not case-sensitive in a private-profile file.
    WriteManifest("[MAIN]\r\nVersion = 1.0.0.9\r\nMINIVER=1.0.0.0\r\n");
    ExpectPatch(DecideInstalled(L"1.0.0.5"), L"1.0.0.5", L"1.0.0.9");
}

TEST_F(UpdateDecisionTest, ValuesAreReadWithTheirDeclaredSizes)
{
    const std::string longVersion = "1.0.0." + std::string(300, '9');
    const std::string longNewest = "http://127.0.0.1:9/" + std::string(2100, 'n');
    WriteMain(longVersion.c_str(), "2.0.0.0", longNewest.c_str());
    const Outcome o = DecideInstalled(L"1.0.0.0");
    ASSERT_EQ(3u, g_reads.size());
    EXPECT_EQ(259u, g_reads[0].size);
    EXPECT_EQ(259u, g_reads[1].size);
    EXPECT_EQ(2083u, g_reads[2].size);
    ASSERT_EQ(1, o.result);
    EXPECT_EQ(2082u, o.fullPackageUrl.size());
    EXPECT_EQ(std::wstring(longNewest.begin(), longNewest.begin() + 2082), o.fullPackageUrl);
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
    const Outcome o = DecideInstalled(installed);
    EXPECT_EQ(1, o.result);
    EXPECT_EQ(PatchUrl(installed, wideVersion), o.patchUrl);
    // The host text holds only the first 241 characters of so long a version.
    EXPECT_EQ(std::vector<std::wstring>{L"OnUpdateAvailable;" + wideVersion.substr(0, 241)}, o.texts);
}

TEST_F(UpdateDecisionTest, PatchUrlIsCutToItsBuffer)
{
    const std::wstring base = L"http://127.0.0.1:9/" + std::wstring(1800, L'b') + L"/update/";
    WriteMain("1.0.0.9", "1.0.0.0");
    const Outcome o = Decide(L"u.exe /v:1.0.0." + std::wstring(249, L'0') + L"5", manifest_, base);
    EXPECT_EQ(1, o.result);
    const std::wstring whole = base + L"1.0.0." + std::wstring(249, L'0') + L"5" + L"-1.0.0.9/velmar.diff";
    ASSERT_GT(whole.size(), 2083u);
    EXPECT_EQ(whole.substr(0, 2083), o.patchUrl);
}

class UpdateDecisionLogTest : public UpdateDecisionTest {
protected:
    // Runs one decision with g_updateLog on, in a run folder of its own; returns the log text.
    std::string LoggedText(const std::wstring& commandLine)
    {
        static unsigned long tick = 1000;
        ++tick;
        g_updateLog.EnableAt(folder_.Path(), tick);
        Decide(commandLine);
        g_updateLog.Stream().Close();
        return ReadFileBytes(folder_.Path() + L"\\updatelog\\" + std::to_wstring(tick) + L"\\_velmarupdate.log");
    }
};

TEST_F(UpdateDecisionLogTest, VersionsAreLoggedAsReadBeforeAnyTest)
{
    WriteMain("1.2.3", nullptr);
    EXPECT_EQ(" NewVer:1.2.3 MinVer:0", LoggedText(L"u.exe /v:1.0.0.5"));
    WriteMain("x.y", "1.0.0.0");
    EXPECT_EQ(" NewVer:x.y MinVer:1.0.0.0", LoggedText(L"u.exe /v:1.0.0.5"));
    WriteMain("1.0.0.9", "1.0.0.0");
    EXPECT_EQ(" NewVer:1.0.0.9 MinVer:1.0.0.0", LoggedText(L"u.exe /v:1.0.0.5"));
    EXPECT_EQ(" NewVer:1.0.0.9 MinVer:1.0.0.0", LoggedText(L"u.exe /v:0.0.0.1"));
    EXPECT_EQ("", LoggedText(L"u.exe /v:"));  // not read, not logged
}

}  // namespace
