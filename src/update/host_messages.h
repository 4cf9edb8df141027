// Status messages to the browser's host window: WM_COPYDATA with dwData 12 and
// a 520-byte, zero-filled UTF-16 text.
#pragma once

#include <windows.h>

#include <cstdint>

extern HWND g_hHostWnd;            // "/w:"; 0 sends nowhere
extern std::int32_t g_nHostParam;  // "/j:"; the wParam of every message

constexpr int kHostTextChars = 260;

// Sends the 260-character buffer to g_hHostWnd; returns what SendMessageW returns.
LRESULT SendHostMessage(const wchar_t* text);

void NotifyCheckingForUpdate();
void NotifyUpdateAvailable(const wchar_t* version);
void NotifyInstalling();
void NotifyComplete(std::int32_t resultCode);
