// host_monitor: stands in for the browser's host window. Owns a message-only
// window, records every WM_COPYDATA it receives and optionally prints it.
//
//   host_monitor.exe [--ready FILE] [--record FILE] [--print] [--seconds N] [--stop-file FILE]
//
// --ready      written once the window exists: its handle in decimal (pass it as "/w:")
// --record     one line appended and written through per message:
//              <wParam as signed 64-bit> <dwData> <cbData> <cbData bytes as hex>
// --print      also prints "<time> <wParam> <text>" per message to stdout (UTF-8)
// --seconds    exits after N seconds (default 300, 0 for never), a safety net for tests
// --stop-file  exits soon after this file appears (polled every 50 ms)
// --hang       a hung browser: the window's thread never pumps messages (until the stop file)
#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr UINT_PTR kStopPollTimer = 1;
constexpr UINT_PTR kDeadlineTimer = 2;

struct Options {
    std::wstring readyFile;
    std::wstring recordFile;
    std::wstring stopFile;
    bool print = false;
    bool hang = false;
    unsigned seconds = 300;
};

Options g_options;
HANDLE g_record = INVALID_HANDLE_VALUE;

// Written under a temporary name and renamed, so a reader never sees half a handle.
bool WriteReadyFile(const std::wstring& path, HWND window)
{
    const std::wstring temporary = path + L".part";
    char text[32] = {};
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
    return WriteWholeFile(temporary, text) && ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void Record(WPARAM wParam, const COPYDATASTRUCT& data)
{
    const long long param = static_cast<long long>(static_cast<INT_PTR>(wParam));
    const unsigned char* bytes = static_cast<const unsigned char*>(data.lpData);
    const DWORD byteCount = bytes != nullptr ? data.cbData : 0;

    if (g_record != INVALID_HANDLE_VALUE) {
        char head[96] = {};
        std::snprintf(head, sizeof head, "%lld %llu %lu ", param, static_cast<unsigned long long>(data.dwData),
                      static_cast<unsigned long>(data.cbData));
        const std::string line = head + Utf8FromWide(LowerHex(bytes, byteCount)) + "\n";
        WriteAllBytes(g_record, line.data(), line.size());
    }

    if (g_options.print) {
        std::wstring text;
        for (DWORD i = 0; i + 1 < byteCount; i += 2) {
            const wchar_t unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
            if (unit == L'\0') {
                break;
            }
            text += unit;
        }
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        std::printf("%02u:%02u:%02u.%03u %lld %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, param,
                    Utf8FromWide(text).c_str());
        std::fflush(stdout);
    }
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA:
        if (lParam != 0) {
            Record(wParam, *reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        }
        return TRUE;
    case WM_TIMER:
        if (wParam == kDeadlineTimer ||
            (wParam == kStopPollTimer && ::GetFileAttributesW(g_options.stopFile.c_str()) != INVALID_FILE_ATTRIBUTES)) {
            ::PostQuitMessage(0);
        }
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        const bool hasValue = i + 1 < argc;
        if (name == L"--print") {
            options.print = true;
        } else if (name == L"--hang") {
            options.hang = true;
        } else if (name == L"--ready" && hasValue) {
            options.readyFile = argv[++i];
        } else if (name == L"--record" && hasValue) {
            options.recordFile = argv[++i];
        } else if (name == L"--stop-file" && hasValue) {
            options.stopFile = argv[++i];
        } else if (name == L"--seconds" && hasValue) {
            options.seconds = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (!ParseOptions(argc, argv, g_options)) {
        std::fprintf(stderr,
                     "usage: host_monitor [--ready FILE] [--record FILE] [--print] [--hang] [--seconds N] [--stop-file FILE]\n");
        return 2;
    }
    if (!g_options.recordFile.empty()) {
        g_record = ::CreateFileW(g_options.recordFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_record == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "host_monitor: cannot open the record file (%lu)\n", ::GetLastError());
            return 3;
        }
    }

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &HostWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VelmarHostMonitor";
    if (::RegisterClassExW(&windowClass) == 0) {
        return 4;
    }
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Velmar host monitor", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        return 5;
    }
    if (g_options.seconds != 0) {
        ::SetTimer(window, kDeadlineTimer, g_options.seconds * 1000u, nullptr);
    }
    if (!g_options.stopFile.empty()) {
        ::SetTimer(window, kStopPollTimer, 50, nullptr);
    }
    if (g_options.print) {
        std::printf("host window %lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
        std::fflush(stdout);
    }
    if (!g_options.readyFile.empty() && !WriteReadyFile(g_options.readyFile, window)) {
        return 6;
    }

    while (g_options.hang && ::GetFileAttributesW(g_options.stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::Sleep(50);
    }
    MSG message = {};
    while (!g_options.hang && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&message);
    }
    ::DestroyWindow(window);
    if (g_record != INVALID_HANDLE_VALUE) {
        ::CloseHandle(g_record);
    }
    return 0;
}
