// Test tool: runs DecideUpdate on the manifest named by the first argument, with
// "/v:" read from its own command line and host messages to "/w:" with "/j:".
// Prints "result=<r> full=<f>", "patch=<url>" and "full=<url>" as UTF-8 lines.
#include "app/switches.h"
#include "update/host_messages.h"
#include "update/update_decision.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const wchar_t* text)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return 2;
    }
    const wchar_t* commandLine = ::GetCommandLineW();
    g_hHostWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(GetSwitchNumber(commandLine, L"/w:")));
    g_nHostParam = GetSwitchNumber(commandLine, L"/j:");

    std::vector<wchar_t> patchUrl(kUrlBufferChars, L'\0');
    std::vector<wchar_t> fullPackageUrl(kUrlBufferChars, L'\0');
    int bFullPackage = -1;
    const int result = DecideUpdate(argv[1], patchUrl.data(), bFullPackage, fullPackageUrl.data());
    std::printf("result=%d full=%d\npatch=%s\nfull=%s\n", result, bFullPackage, ToUtf8(patchUrl.data()).c_str(),
                ToUtf8(fullPackageUrl.data()).c_str());
    return 0;
}
