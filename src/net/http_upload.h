// Posts a multipart form to an http or https URL, streaming the file.
#pragma once

#include "net/multipart_form.h"

#include <windows.h>

#include <optional>
#include <string>

// Sends the fields and the file as one multipart/form-data POST, the file read
// in pieces while it goes out. True only when the request went out whole, the
// status was 200 and the answer was read completely, or to its first 64 KiB
// (the rest is not read), within the answer's time limit. status (optional) is 0
// until a status has been read; responseBody (optional) is set only on success;
// retryAfter (optional) receives the Retry-After of a 429 or 503 answer, as sent.
// timeoutMs, when given, is the connect, send and receive time-out; the stall
// guard applies either way.
bool PostMultipartForm(const std::wstring& url, const FormFields& fields, const std::wstring& filePath,
                       const std::wstring& filePartName, std::optional<DWORD> timeoutMs, std::wstring* responseBody,
                       int* status, std::wstring* retryAfter = nullptr);
