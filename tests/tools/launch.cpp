// Test tool: starts a program with an exact command line, which Wine's own
// argument handling cannot give. The line comes UTF-8 encoded from the file
// named by the first argument; further NAME=VALUE arguments are set in the
// child's environment. Prints the child's process id, waits for it and exits
// with its exit code (or 255 when it cannot be started).
#include "base/process_launch.h"
#include "base/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return 255;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        return 255;
    }
    const std::string utf8((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    for (int i = 2; i < argc; ++i) {
        const std::wstring assignment(argv[i]);
        const std::size_t equals = assignment.find(L'=');
        if (equals != std::wstring::npos) {
            ::SetEnvironmentVariableW(assignment.substr(0, equals).c_str(), assignment.c_str() + equals + 1);
        }
    }

    const ProcessRun run = RunProcessAndWait(nullptr, WideFromUtf8(utf8), 0, INFINITE);
    if (!run.started) {
        std::printf("start failed %lu\n", run.error);
        return 255;
    }
    std::printf("pid %lu\n", run.processId);
    return run.ended ? static_cast<int>(run.exitCode) : 255;
}
