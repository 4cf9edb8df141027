// The detached signature that vouches for the manifest: <URL>.sig, the DER
// ECDSA P-256 signature over the SHA-256 of the manifest's exact bytes.
#pragma once

#include "net/transfer_rules.h"
#include "update/update_keys.h"

#include <string>

// Downloads <url>.sig and checks it over `bytes` under each key; true when one
// of them verifies it. A refusal leaves one line in the diagnostic log.
bool VerifyDetachedSignature(const std::wstring& url, const std::string& bytes, const TransferLimits& limits,
                             const UpdateKeys& keys);
