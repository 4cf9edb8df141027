#include "crashreport/crash_report.h"

#include "build_settings.h"
#include "net/http_upload.h"
#include "net/transfer_rules.h"

const wchar_t* const g_pszErrorLogUrl = VELMAR_ERROR_LOG_URL;

int UploadCrashDump(const CrashReportOptions& options)
{
    try {
        if (options.dumpPath.empty()) {
            return 0;  // nothing named, or a path that would have had to be cut
        }
        FormFields fields;
        fields[L"name"] = L"Orvanta Velmar";
        fields[L"version1"] = options.version;
        fields[L"os"] = options.os;

        std::wstring response;
        int status = 0;
        // A time-out always: a report that never ends would hold the browser's crash handling.
        const bool uploaded = PostMultipartForm(g_pszErrorLogUrl, fields, options.dumpPath, L"dump_file",
                                                DefaultTransferLimits().timeoutMs, &response, &status);
        return uploaded ? 1 : 0;
    } catch (...) {
        // Whatever escapes is a failed upload, not a crash of the reporter.
        return 0;
    }
}
