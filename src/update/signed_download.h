// Downloads a file the updater acts on and, when the build carries a key,
// accepts it only with a valid detached signature at its URL + ".sig".
#pragma once

#include "net/transfer_rules.h"

enum class SignedDownload {
    Verified,           // downloaded whole and, with a key, signed by it
    TransferFailed,     // the file itself could not be downloaded
    SignatureRejected,  // its signature is missing, unreadable, malformed or wrong; the file is deleted
};

// publicKey: the P-256 key (X then Y, 64 bytes) built into the updater, or
// null when signatures are off. The file is hashed as its pieces are written,
// never read a second time. A rejection leaves one line in the diagnostic log.
SignedDownload DownloadSignedFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                                  const unsigned char* publicKey);
