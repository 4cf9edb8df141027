#include "crashreport/crash_report.h"

#include "base/switches.h"
#include "build_settings.h"
#include "net/http_upload.h"
#include "net/transfer_rules.h"

#include <string>

const wchar_t* const g_pszErrorLogUrl = VELMAR_ERROR_LOG_URL;

int UploadCrashDump(const wchar_t* commandLine, const wchar_t* dumpPath)
{
    try {
        wchar_t szVersion[kSwitchBufferChars] = {};
        wchar_t szOs[kSwitchBufferChars] = {};
        // An absent switch leaves its buffer empty and the field is sent empty.
        GetSwitchValue(commandLine, L"/v:", szVersion, kSwitchDeclaredSize);
        GetSwitchValue(commandLine, L"/os:", szOs, kSwitchDeclaredSize);

        FormFields fields;
        fields[L"name"] = L"Orvanta Velmar";
        fields[L"version1"] = szVersion;
        fields[L"os"] = szOs;

        std::wstring response;
        int status = 0;
        // A time-out always: a report that never ends would hold the browser's crash handling.
        const bool uploaded = PostMultipartForm(g_pszErrorLogUrl, fields, dumpPath, L"dump_file",
                                                DefaultTransferLimits().timeoutMs, &response, &status);
        return uploaded ? 1 : 0;
    } catch (...) {
        // Whatever escapes is a failed upload, not a crash of the reporter.
        return 0;
    }
}
