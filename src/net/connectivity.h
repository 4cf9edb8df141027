// Whether the machine is online, as WinINet sees it.
#pragma once

#include <windows.h>

// InternetGetConnectedState; flags as it reports them.
BOOL QueryInternetConnectedState(DWORD* flags);

// Online: the query succeeded, the state is not "offline", and there is a
// modem, LAN or proxy connection.
bool IsOnlineState(BOOL queried, DWORD flags);
