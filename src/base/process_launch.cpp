#include "base/process_launch.h"

#include "base/handle_owner.h"

#include <vector>

ProcessRun RunProcessAndWait(const wchar_t* program, const std::wstring& commandLine, DWORD creationFlags,
                             DWORD timeoutMs)
{
    ProcessRun run;
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program, writable.data(), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                          &startup, &info)) {
        run.error = ::GetLastError();
        return run;
    }
    run.started = true;
    run.processId = info.dwProcessId;
    HandleOwner process(info.hProcess);
    HandleOwner thread(info.hThread);
    const DWORD waited = ::WaitForSingleObject(process.Get(), timeoutMs);
    if (waited != WAIT_OBJECT_0) {
        run.error = waited == WAIT_FAILED ? ::GetLastError() : WAIT_TIMEOUT;
        return run;
    }
    if (!::GetExitCodeProcess(process.Get(), &run.exitCode)) {
        run.error = ::GetLastError();
        run.exitCode = 0;
        return run;
    }
    run.ended = true;
    return run;
}
