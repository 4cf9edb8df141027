#include "app/command_line_options.h"

#include "app/switches.h"

#include <windows.h>

namespace {

// A value as the 260-character switch buffer holds it: at most 258 characters.
std::wstring ValueSwitch(const wchar_t* commandLine, const wchar_t* switchText)
{
    wchar_t value[kSwitchBufferChars] = {};
    GetSwitchValue(commandLine, switchText, value, kSwitchDeclaredSize);
    return value;
}

// A file or folder: one longer than the buffer holds counts as absent, since
// the path its first characters name is another one.
std::wstring PathSwitch(const wchar_t* commandLine, const wchar_t* switchText)
{
    std::wstring value;
    if (!FindSwitch(commandLine, switchText, value) || value.size() > kSwitchValueMaxChars) {
        return std::wstring();
    }
    return value;
}

}  // namespace

bool HasSwitch(const wchar_t* commandLine, const wchar_t* switchText)
{
    std::wstring ignored;
    return FindSwitch(commandLine, switchText, ignored);
}

UpdateOptions ReadUpdateOptions(const wchar_t* commandLine)
{
    UpdateOptions options;
    // Only a window: the broadcast handle would reach, and wait for, every
    // top-level window on the desktop.
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(GetSwitchNumber(commandLine, L"/w:")));
    if (window != HWND_BROADCAST && ::IsWindow(window)) {
        options.hostWindow = window;
    }
    options.hostParam = GetSwitchNumber(commandLine, L"/j:");
    options.installedVersion = ValueSwitch(commandLine, L"/v:");
    options.installPath = PathSwitch(commandLine, L"/installpath:");
    return options;
}

CrashReportOptions ReadCrashReportOptions(const wchar_t* commandLine)
{
    CrashReportOptions options;
    options.dumpPath = PathSwitch(commandLine, L"/u:");
    options.version = ValueSwitch(commandLine, L"/v:");
    options.os = ValueSwitch(commandLine, L"/os:");
    return options;
}
