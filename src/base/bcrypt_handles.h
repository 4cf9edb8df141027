// Owners of the CNG handles the program opens.
#pragma once

#include "base/handle_owner.h"

#include <windows.h>
#include <bcrypt.h>

inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) { ::BCryptCloseAlgorithmProvider(provider, 0); }

using AlgorithmProvider = ScopedHandle<NullableHandleTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>>;
using HashOwner = ScopedHandle<NullableHandleTraits<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;
using KeyOwner = ScopedHandle<NullableHandleTraits<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>>;
