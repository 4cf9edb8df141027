// Posts a multipart form to an http or https URL with WinINet, synchronously.
#pragma once

#include "base/handle_owner.h"
#include "net/multipart_form.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

// The agent string; WinINet sends it as the User-Agent.
extern const wchar_t kCrashReportAgent[];

// The answer is complete when no length was announced, or exactly the announced
// number of bytes arrived. WinINet ends a body cut short of its Content-Length
// just like a whole one, so only this count tells them apart.
bool ReplyLengthMatches(bool lengthAnnounced, long long announcedLength, std::uint64_t bytesRead);

// Reads the answer's body to its end. True when it was read completely; only
// then does responseBody (optional) receive it, decoded from UTF-8.
bool ReadReplyBody(HINTERNET request, std::wstring* responseBody);

// Sends the fields and the file as one multipart/form-data POST. True only when
// the request went out, the status was 200 and the answer was read completely.
// status (optional) is 0 until a status has been read; responseBody (optional)
// is set only on success. timeoutMs, when given, is the send and receive time-out.
bool PostMultipartForm(const std::wstring& url, const FormFields& fields, const std::wstring& filePath,
                       const std::wstring& filePartName, std::optional<DWORD> timeoutMs, std::wstring* responseBody,
                       int* status);
