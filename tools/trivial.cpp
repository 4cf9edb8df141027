// The smallest static Win32 GUI program: the yardstick for the updater's start-up cost.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
