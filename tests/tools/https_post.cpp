// Test tool: one PostMultipartForm of a small report in a process of its own, so
// the certificate chain engine reads the Root store afresh (Wine's engine keeps
// the store it read first for the life of the process).
//   https_post.exe URL DUMP_PATH
// Exit code: the HTTP status (0 when none), plus 1000 when the upload succeeded.
#include "net/http_upload.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 255;
    }
    FormFields fields;
    fields[L"name"] = L"Orvanta Velmar";
    int status = 0;
    const bool uploaded = PostMultipartForm(argv[1], fields, argv[2], L"dump_file", 10000, nullptr, &status);
    return (uploaded ? 1000 : 0) + status;
}
