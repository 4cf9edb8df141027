#include "app/command_line_options.h"

#include "host_window_recorder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandLineOptions, PathsTooLongToHoldAreAbsentNotCut)
{
    const std::wstring fits = L"C:\\" + std::wstring(255, L'd');  // 258 characters
    const std::wstring tooLong = fits + L"x";
    const struct {
        std::wstring tail;
        std::wstring dumpPath;
        std::wstring installPath;
    } cases[] = {
        {L"/u:" + fits + L" /installpath:" + fits, fits, fits},
        {L"/u:" + tooLong + L" /installpath:\"" + tooLong + L"\"", L"", L""},
    };
    for (const auto& c : cases) {
        const std::wstring commandLine = L"u.exe /v:1.0 " + c.tail;
        EXPECT_EQ(c.dumpPath, ReadCrashReportOptions(commandLine.c_str()).dumpPath);
        EXPECT_EQ(c.installPath, ReadUpdateOptions(commandLine.c_str()).installPath);
    }
    // Other values keep the lookup's rule: at most 258 characters.
    const std::wstring version = std::wstring(300, L'9');
    EXPECT_EQ(version.substr(0, 258), ReadUpdateOptions((L"u.exe /v:" + version).c_str()).installedVersion);
}

TEST(CommandLineOptions, HostMustBeAWindowAndNeverTheBroadcastHandle)
{
    HostWindowRecorder host;
    const std::wstring real = std::to_wstring(reinterpret_cast<INT_PTR>(host.Window()));
    const struct {
        std::wstring value;
        HWND expected;
    } cases[] = {{real, host.Window()}, {L"65535", nullptr}, {L"123456789", nullptr}, {L"0", nullptr}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ReadUpdateOptions((L"u.exe /j:4 /w:" + c.value).c_str()).hostWindow) << c.value;
    }
}

}  // namespace
