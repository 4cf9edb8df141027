#include "update/install/installer_command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> SplitLikeWindows(const std::wstring& commandLine)
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    ::LocalFree(argv);
    return args;
}

TEST(InstallerCommandLine, ValuesWithoutBlanksGoInUnchanged)
{
    EXPECT_EQ(L"D\\setup.exe --install-archive=P --log-file=L  --verbose-logging=true",
              BuildPatchCommandLine(L"D\\setup.exe", L"P", L"L"));
    EXPECT_EQ(L"D\\setup.exe --install-archive=P --log-file=  --verbose-logging=true",
              BuildPatchCommandLine(L"D\\setup.exe", L"P", L""));
    EXPECT_EQ(L" --log-file=L --verbose-logging=true --disable-installdlg=true --orvantaupdate-installpath=C:\\V",
              BuildFullInstallerCommandLine(L"L", L"C:\\V"));
    EXPECT_EQ(L" --log-file= --verbose-logging=true --disable-installdlg=true --orvantaupdate-installpath=C:\\V",
              BuildFullInstallerCommandLine(L"", L"C:\\V"));
}

TEST(InstallerCommandLine, QuotingRoundTripsThroughCommandLineToArgv)
{
    const std::wstring values[] = {
        L"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\123\\velmar.diff",
        L"C:\\Program Files\\Velmar\\",
        L"C:\\Program Files\\Velmar\\\\",
        L"tab\there",
        L"a \"quoted\" word",
        L"C:\\odd\\\" name",
        L"trailing space ",
    };
    for (const std::wstring& value : values) {
        const std::vector<std::wstring> args =
            SplitLikeWindows(L"setup.exe --install-archive=" + QuoteIfBlank(value) + L" next");
        ASSERT_EQ(3u, args.size()) << value;
        EXPECT_EQ(L"--install-archive=" + value, args[1]);
        EXPECT_EQ(L"next", args[2]);
    }
}

TEST(InstallerCommandLine, PatchLineSplitsIntoOneArgumentPerPath)
{
    const std::wstring installer = L"C:\\Program Files\\Orvanta Velmar\\setup.exe";
    const std::wstring package = L"C:\\Users\\Ann Lee\\Temp\\77\\velmar.diff";
    const std::wstring setupLog = L"C:\\Program Files\\Orvanta Velmar\\updatelog\\9\\_setup.log";
    const std::wstring line = BuildPatchCommandLine(installer, package, setupLog);
    EXPECT_EQ(L"\"C:\\Program Files\\Orvanta Velmar\\setup.exe\" --install-archive=\"" + package +
                  L"\" --log-file=\"" + setupLog + L"\"  --verbose-logging=true",
              line);
    const std::vector<std::wstring> args = SplitLikeWindows(line);
    ASSERT_EQ(4u, args.size());
    EXPECT_EQ(installer, args[0]);
    EXPECT_EQ(L"--install-archive=" + package, args[1]);
    EXPECT_EQ(L"--log-file=" + setupLog, args[2]);
    EXPECT_EQ(L"--verbose-logging=true", args[3]);
}

TEST(InstallerCommandLine, FullInstallerLineStartsWithASpace)
{
    const std::wstring line = BuildFullInstallerCommandLine(L"C:\\a b\\_install.log", L"D:\\My Apps\\Velmar\\");
    ASSERT_EQ(L' ', line[0]);
    const std::vector<std::wstring> args = SplitLikeWindows(line);
    ASSERT_EQ(5u, args.size());
    EXPECT_EQ(L"", args[0]);
    EXPECT_EQ(L"--log-file=C:\\a b\\_install.log", args[1]);
    EXPECT_EQ(L"--orvantaupdate-installpath=D:\\My Apps\\Velmar\\", args[4]);
}

}  // namespace
