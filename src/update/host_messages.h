// Status messages to the browser's host window: WM_COPYDATA with dwData 12 and
// a 520-byte, zero-filled UTF-16 text.
#pragma once

#include <windows.h>

#include <cstdint>

extern HWND g_hHostWnd;            // "/w:"; 0 sends nowhere
extern std::int32_t g_nHostParam;  // "/j:"; the wParam of every message
extern HWND g_hSilentHost;         // a host that did not answer in time; it gets no more messages

constexpr int kHostTextChars = 260;

// Sends the 260-character buffer to g_hHostWnd, waiting at most
// VELMAR_HOST_MESSAGE_TIMEOUT_SECONDS; returns the host's reply, 0 when none.
// A host that fails to answer is logged (HostNotResponding) and left alone.
LRESULT SendHostMessage(const wchar_t* text);

void NotifyCheckingForUpdate();
void NotifyUpdateAvailable(const wchar_t* version);
void NotifyInstalling();
void NotifyComplete(std::int32_t resultCode);
