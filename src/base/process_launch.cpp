#include "base/process_launch.h"

#include "base/handle_owner.h"

#include <vector>

ProcessRun RunProcessAndWait(const wchar_t* program, const std::wstring& commandLine, DWORD creationFlags,
                             DWORD timeoutMs, const std::vector<HANDLE>& heldPastWait)
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
        for (HANDLE held : heldPastWait) {
            // Left in the process: closed by Windows when it exits.
            HANDLE copy = nullptr;
            const HANDLE self = ::GetCurrentProcess();
            if (!::DuplicateHandle(self, held, process.Get(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) &&
                run.handOverError == 0) {
                run.handOverError = ::GetLastError();
            }
        }
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
