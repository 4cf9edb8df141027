// Test tool: runs DecideUpdate on the manifest named by the first argument, with
// "/v:" read from its own command line and host messages to "/w:" with "/j:".
// Prints "result=<r> full=<f>", "patch=<url>" and "full=<url>" as UTF-8 lines.
#include "base/switches.h"
#include "base/utf8_text.h"
#include "update/host_messages.h"
#include "update/update_decision.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

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
    const int result = DecideUpdate(commandLine, argv[1], patchUrl.data(), bFullPackage, fullPackageUrl.data());
    std::printf("result=%d full=%d\npatch=%s\nfull=%s\n", result, bFullPackage, Utf8FromWide(patchUrl.data()).c_str(),
                Utf8FromWide(fullPackageUrl.data()).c_str());
    return 0;
}
