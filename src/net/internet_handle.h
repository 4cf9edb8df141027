// The owner of WinINet handles (session, connection, request).
#pragma once

#include "base/handle_owner.h"

#include <windows.h>
#include <wininet.h>

using InternetHandleOwner = ScopedHandle<NullableHandleTraits<HINTERNET, &::InternetCloseHandle>>;
