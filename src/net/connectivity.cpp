#include "net/connectivity.h"

#include <wininet.h>

BOOL QueryInternetConnectedState(DWORD* flags) { return ::InternetGetConnectedState(flags, 0); }

bool IsOnlineState(BOOL queried, DWORD flags)
{
    if (!queried || (flags & INTERNET_CONNECTION_OFFLINE) != 0) {
        return false;
    }
    return (flags & (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY)) != 0;
}
