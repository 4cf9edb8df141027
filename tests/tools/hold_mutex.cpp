// Test tool: holds the updater's single-instance mutex until its standard input
// closes. Creates the file named by its first argument once the mutex is held.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Orvanta_VelmarUpdate");
    if (mutex == nullptr) {
        return 2;
    }
    if (argc > 1) {
        ::CloseHandle(::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    char byte = 0;
    DWORD read = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
    }
    ::CloseHandle(mutex);
    return 0;
}
