// What update mode takes from the command line, read once by the entry point.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct UpdateOptions {
    HWND hostWindow = nullptr;     // "/w:" when it names a window (never HWND_BROADCAST); else none
    std::int32_t hostParam = 0;    // "/j:"; the wParam of every message
    std::wstring installedVersion; // "/v:"; empty when absent
    std::wstring installPath;      // "/installpath:"; empty when absent or too long to be a path
};
