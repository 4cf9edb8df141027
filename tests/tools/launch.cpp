// Test tool: starts a program with an exact command line, which Wine's own
// argument handling cannot give. The line comes UTF-8 encoded from the file
// named by the first argument; further NAME=VALUE arguments are set in the
// child's environment. Prints the child's process id, waits for it and exits
// with its exit code (or 255 when it cannot be started).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return 255;
    }
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 255;
    }
    std::string utf8;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0) {
        utf8.append(chunk, read);
    }
    ::CloseHandle(file);
    const int chars = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::vector<wchar_t> commandLine(static_cast<std::size_t>(chars) + 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), commandLine.data(), chars);

    for (int i = 2; i < argc; ++i) {
        std::wstring assignment(argv[i]);
        const std::size_t equals = assignment.find(L'=');
        if (equals != std::wstring::npos) {
            ::SetEnvironmentVariableW(assignment.substr(0, equals).c_str(), assignment.c_str() + equals + 1);
        }
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::printf("start failed %lu\n", ::GetLastError());
        return 255;
    }
    std::printf("pid %lu\n", process.dwProcessId);
    std::fflush(stdout);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
