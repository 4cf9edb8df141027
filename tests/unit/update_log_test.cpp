#include "log/update_log.h"

#include <windows.h>

#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(UpdateLog, ModuleDirectoryIsTheExecutablesFolder)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring expected(path);
    expected.resize(expected.rfind(L'\\'));
    EXPECT_EQ(expected, g_updateLog.ModuleDirectory());
}

TEST(UpdateLog, OffUntilEnabledAndDropsWrites)
{
    UpdateLog log;
    EXPECT_EQ(L"", log.SetupLogPath());
    EXPECT_EQ(L"", log.InstallLogPath());
    log.Stream() << L"dropped" << 12;
    EXPECT_FALSE(log.Stream().IsOpen());
}

TEST(UpdateLog, EmptyModuleDirectoryKeepsLogOff)
{
    UpdateLog log;
    log.EnableAt(L"", 42);
    EXPECT_FALSE(log.Stream().IsOpen());
    EXPECT_EQ(L"", log.SetupLogPath());
    EXPECT_EQ(L"", log.InstallLogPath());
}

TEST(UpdateLog, WritesRunFolderAndUtf8Text)
{
    ScratchFolder folder;
    const std::wstring& base = folder.Path();
    const std::wstring runFolder = base + L"\\updatelog\\4294967295";
    {
        UpdateLog log;
        log.EnableAt(base, 4294967295UL);
        EXPECT_EQ(runFolder + L"\\_setup.log", log.SetupLogPath());
        EXPECT_EQ(runFolder + L"\\_install.log", log.InstallLogPath());
        ASSERT_TRUE(log.Stream().IsOpen());
        log.Stream() << L"PID:" << -7 << L"CmdLine is" << L"C:\\\u4e2d\\x /v:1" << L"Wait for debugger\n"
                     << L"after" << 4000000000UL;
        // Written through: the text is in the file before the log is closed.
        EXPECT_EQ(std::string("PID:-7CmdLine isC:\\\xe4\xb8\xad\\x /v:1Wait for debugger\r\nafter4000000000"),
                  ReadFileBytes(runFolder + L"\\_velmarupdate.log"));
    }
}

TEST(UpdateLog, SameTickTruncatesEarlierRun)
{
    ScratchFolder folder;
    const std::wstring& base = folder.Path();
    {
        UpdateLog first;
        first.EnableAt(base, 907);
        first.Stream() << L"first run, longer text";
    }
    {
        UpdateLog second;
        second.EnableAt(base, 907);
        second.Stream() << L"second";
    }
    EXPECT_EQ("second", ReadFileBytes(base + L"\\updatelog\\907\\_velmarupdate.log"));
}

TEST(UpdateLog, UnwritableFolderLeavesLogOffWithPathsSet)
{
    // A file where the "updatelog" folder should be: nothing can be created below it.
    ScratchFolder folder;
    const std::wstring& base = folder.Path();
    HANDLE blocker = ::CreateFileW((base + L"\\updatelog").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                   nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, blocker);
    ::CloseHandle(blocker);
    UpdateLog log;
    log.EnableAt(base, 5);
    EXPECT_FALSE(log.Stream().IsOpen());
    EXPECT_EQ(base + L"\\updatelog\\5\\_setup.log", log.SetupLogPath());
    log.Stream() << L"dropped";
    EXPECT_FALSE(Exists(base + L"\\updatelog\\5"));
}

TEST(UpdateLog, LargeTextIsWrittenWhole)
{
    ScratchFolder folder;
    const std::wstring& base = folder.Path();
    const std::wstring piece(1000, L'\u00e9');
    {
        UpdateLog log;
        log.EnableAt(base, 1);
        for (int i = 0; i < 50; ++i) {
            log.Stream() << piece;
        }
    }
    EXPECT_EQ(100000u, ReadFileBytes(base + L"\\updatelog\\1\\_velmarupdate.log").size());
}

}  // namespace
