// The file a crash report carries: opened once, read in pieces while it is sent.
#pragma once

#include "base/handle_owner.h"
#include "net/transfer_rules.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// Opens the file for reading, sharing reading and writing (the crashed process
// may still hold its dump). Invalid when it is missing, unreadable, a folder or
// empty: then there is nothing to send. size receives its length.
HandleOwner OpenUploadFile(const std::wstring& path, std::uint64_t& size);

// Hands exactly `size` bytes of the file to `send`, in pieces of at most 1 MiB.
// True when all went out and the file still has that size. False otherwise:
// `why` becomes SourceChanged when the file ended early or has grown (a request
// must never announce a length it does not send, nor a dump go out cut), or
// WindowsError with `error` when a read failed; it is left as it was when
// `send` refused a piece (the sender knows why).
bool SendFileBytes(HANDLE file, std::uint64_t size, const std::function<bool(const char*, DWORD)>& send,
                   TransferEnd& why, DWORD& error);
