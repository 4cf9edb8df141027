#include "crashreport/crash_report.h"

// PLACEHOLDER: the upload is not built yet; every crash report fails with 0.
int UploadCrashDump(const wchar_t* /*commandLine*/, const wchar_t* /*dumpPath*/) { return 0; }
