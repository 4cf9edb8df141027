// Test tool: asks the check schedule on the real machine and prints
// "connected=<0|1> due=<0|1>"; with the argument "save" it then stores the time.
#include "update/check_schedule.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    const bool connected = IsInternetConnected();
    const int due = IsUpdateCheckDue();
    std::printf("connected=%d due=%d\n", connected ? 1 : 0, due);
    if (argc > 1 && std::wcscmp(argv[1], L"save") == 0) {
        SaveLastCheckTime();
    }
    return 0;
}
