// Crash report mode ("/u:"): posts one dump file to the error-log server.
#pragma once

// The error-log server's URL, fixed when the program is built.
extern const wchar_t* const g_pszErrorLogUrl;

// Returns 1 when the report was uploaded, 0 otherwise; the process exit code.
int UploadCrashDump(const wchar_t* commandLine, const wchar_t* dumpPath);
