// Downloads a file the updater acts on and, when the build carries keys,
// accepts it only with a valid detached signature at its URL + ".sig".
#pragma once

#include "net/transfer_rules.h"
#include "update/update_keys.h"

enum class SignedDownload {
    Verified,           // downloaded whole and, with keys, signed by one of them
    TransferFailed,     // the file itself could not be downloaded
    SignatureRejected,  // its signature is missing, unreadable, malformed or wrong; the file is deleted
};

// The file is hashed as its pieces are written, never read a second time. A
// rejection leaves one line in the diagnostic log.
SignedDownload DownloadSignedFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                                  const UpdateKeys& keys);
