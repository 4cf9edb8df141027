// Crash report mode ("/u:"): posts one dump file to the error-log server.
#pragma once

#include "crashreport/crash_policy.h"

#include <string>

// What crash report mode takes from the command line, read once by the entry point.
struct CrashReportOptions {
    std::wstring dumpPath;  // "/u:"; empty when empty or too long to be a path
    std::wstring version;   // "/v:"; sent as "version1"
    std::wstring os;        // "/os:"; sent as "os"
};

// The error-log server's URL, fixed when the program is built.
extern const wchar_t* const g_pszErrorLogUrl;

// Returns 1 when the report was uploaded, or when this very dump, unchanged,
// was accepted before (then nothing is sent); 0 otherwise. The process exit
// code. Nothing is sent when the policy turns reports off, when this dump was
// refused for good (413), while the server's Retry-After runs, or beyond
// VELMAR_CRASH_REPORTS_PER_DAY reports started in 24 hours.
int UploadCrashDump(const CrashReportOptions& options, const CrashReportPolicy& policy);
