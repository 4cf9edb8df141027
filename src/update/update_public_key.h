// The update-signing public key built into the executable (see cmake/update_public_key.cmake).
#pragma once

// The ECDSA P-256 public key, X then Y (64 bytes), or nullptr when the build
// does not check update signatures.
const unsigned char* UpdatePublicKey();
