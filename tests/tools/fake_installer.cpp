// A stand-in for the product's installers (setup.exe and the full package).
// It records how it was started and exits with a chosen code:
//   VELMAR_FAKE_INSTALLER_RECORD  file that receives, as UTF-8 lines,
//                                 "exe=<own path>", "cmdline=<command line>" and one
//                                 "arg=<argument>" per CommandLineToArgvW argument
//   VELMAR_FAKE_INSTALLER_EXIT    exit code (default 0)
//   VELMAR_FAKE_SETUP_EXIT        the exit code when started as setup.exe, if set (a patch
//                                 that fails where the full installer would not)
//   VELMAR_FAKE_INSTALLER_SECONDS runs this long before it exits (default 0)
// It opens its own file, and a --install-archive=<file>, as setup.exe opens its archive
// (GENERIC_READ, FILE_SHARE_READ only), and records "self-size=" and "archive-size=", or
// "self-error=" / "archive-error=" with the Windows error; with VELMAR_FAKE_INSTALLER_HASH=1
// it also reads them whole and records "self=" and "archive=" with the SHA-256 in hex.
#include "base/file_io.h"
#include "base/handle_owner.h"
#include "base/hex_text.h"
#include "base/sha256.h"
#include "base/utf8_text.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[2048] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 2048);
    return length > 0 && length < 2048 ? std::wstring(value, length) : std::wstring();
}

std::string FileRecord(const char* key, const std::wstring& path)
{
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file.Valid() || !::GetFileSizeEx(file.Get(), &size)) {
        return std::string(key) + "-error=" + std::to_string(::GetLastError()) + "\n";
    }
    std::string record = std::string(key) + "-size=" + std::to_string(size.QuadPart) + "\n";
    if (Environment(L"VELMAR_FAKE_INSTALLER_HASH") != L"1") {
        return record;
    }
    std::string bytes;
    char piece[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), piece, sizeof piece, &read, nullptr) && read != 0) {
        bytes.append(piece, read);
    }
    Sha256Digest digest{};
    Sha256Of(bytes.data(), bytes.size(), digest);
    return record + key + "=" + Utf8FromWide(LowerHex(digest.data(), digest.size())) + "\n";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t* commandLine = ::GetCommandLineW();
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);

    std::string record = "exe=" + Utf8FromWide(self) + "\ncmdline=" + Utf8FromWide(commandLine) + "\n" +
                         FileRecord("self", self);
    int argc = 0;
    if (LPWSTR* argv = ::CommandLineToArgvW(commandLine, &argc)) {
        for (int i = 0; i < argc; ++i) {
            record += "arg=" + Utf8FromWide(argv[i]) + "\n";
            const std::wstring arg = argv[i];
            if (arg.compare(0, 18, L"--install-archive=") == 0) {
                record += FileRecord("archive", arg.substr(18));
            }
        }
        ::LocalFree(argv);
    }

    const std::wstring recordPath = Environment(L"VELMAR_FAKE_INSTALLER_RECORD");
    if (!recordPath.empty()) {
        WriteWholeFile(recordPath, record);
    }
    ::Sleep(static_cast<DWORD>(std::wcstol(Environment(L"VELMAR_FAKE_INSTALLER_SECONDS").c_str(), nullptr, 10)) * 1000);
    const std::wstring name = self;
    const bool asSetup = name.size() >= 10 && _wcsicmp(name.c_str() + name.size() - 10, L"\\setup.exe") == 0;
    const std::wstring setupExit = asSetup ? Environment(L"VELMAR_FAKE_SETUP_EXIT") : std::wstring();
    const std::wstring exitText = setupExit.empty() ? Environment(L"VELMAR_FAKE_INSTALLER_EXIT") : setupExit;
    return exitText.empty() ? 0 : static_cast<int>(std::wcstol(exitText.c_str(), nullptr, 10));
}
