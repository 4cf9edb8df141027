// Crash report mode ("/u:"): posts one dump file to the error-log server.
#pragma once

#include <string>

// What crash report mode takes from the command line, read once by the entry point.
struct CrashReportOptions {
    std::wstring dumpPath;  // "/u:"; empty when empty or too long to be a path
    std::wstring version;   // "/v:"; sent as "version1"
    std::wstring os;        // "/os:"; sent as "os"
};

// The error-log server's URL, fixed when the program is built.
extern const wchar_t* const g_pszErrorLogUrl;

// Returns 1 when the report was uploaded, 0 otherwise; the process exit code.
int UploadCrashDump(const CrashReportOptions& options);
