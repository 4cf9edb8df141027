// The second yardstick for the not-due update cycle: loads WinINet and asks
// whether the machine is online, which every update run must do first.
#include <windows.h>
#include <wininet.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) ? 0 : 1;
}
