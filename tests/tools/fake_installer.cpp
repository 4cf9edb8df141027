// A stand-in for the product's installers (setup.exe and the full package).
// It records how it was started and exits with a chosen code:
//   VELMAR_FAKE_INSTALLER_RECORD  file that receives, as UTF-8 lines,
//                                 "exe=<own path>", "cmdline=<command line>" and one
//                                 "arg=<argument>" per CommandLineToArgvW argument
//   VELMAR_FAKE_INSTALLER_EXIT    exit code (default 0)
//   VELMAR_FAKE_INSTALLER_SECONDS runs this long before it exits (default 0)
#include "base/file_io.h"
#include "base/utf8_text.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[2048] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 2048);
    return length > 0 && length < 2048 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t* commandLine = ::GetCommandLineW();
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);

    std::string record = "exe=" + Utf8FromWide(self) + "\ncmdline=" + Utf8FromWide(commandLine) + "\n";
    int argc = 0;
    if (LPWSTR* argv = ::CommandLineToArgvW(commandLine, &argc)) {
        for (int i = 0; i < argc; ++i) {
            record += "arg=" + Utf8FromWide(argv[i]) + "\n";
        }
        ::LocalFree(argv);
    }

    const std::wstring recordPath = Environment(L"VELMAR_FAKE_INSTALLER_RECORD");
    if (!recordPath.empty()) {
        WriteWholeFile(recordPath, record);
    }
    ::Sleep(static_cast<DWORD>(std::wcstol(Environment(L"VELMAR_FAKE_INSTALLER_SECONDS").c_str(), nullptr, 10)) * 1000);
    const std::wstring exitText = Environment(L"VELMAR_FAKE_INSTALLER_EXIT");
    return exitText.empty() ? 0 : static_cast<int>(std::wcstol(exitText.c_str(), nullptr, 10));
}
