// Sends a request body in pieces sized to the line, keeping the stall guard.
#pragma once

#include "net/transfer_rules.h"

#include <windows.h>

#include <cstddef>

struct TransferState;

class RequestBodyWriter {
public:
    explicit RequestBodyWriter(TransferState& state);
    // False when the transfer must end; it has then recorded why.
    bool Write(const void* data, std::size_t size);
    // The body's source failed: records why the transfer ends.
    void Fail(TransferEnd end, DWORD error);

private:
    TransferState& state_;
    PieceSizer pieces_;
};
