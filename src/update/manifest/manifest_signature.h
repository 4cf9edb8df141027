// The detached signature that vouches for the manifest: <URL>.sig, the DER
// ECDSA P-256 signature over the SHA-256 of the manifest's exact bytes.
#pragma once

#include "net/transfer_rules.h"
#include "update/manifest/update_keys.h"

#include <cstdint>
#include <optional>
#include <string>

// Downloads <url>.sig (within deadlineTick, GetTickCount64) and checks it over
// `bytes` under each key; the index of the key that verifies it, or nullopt. A
// refusal leaves one line in the diagnostic log.
std::optional<std::size_t> VerifyDetachedSignature(const std::wstring& url, const std::string& bytes,
                                                   const TransferLimits& limits, std::uint64_t deadlineTick,
                                                   const UpdateKeys& keys);
