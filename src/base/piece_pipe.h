// Bytes handed on, in order, to a consumer that runs on a thread of its own, so
// whoever feeds them goes on at once: the package's SHA-256 beside its transfer.
// Memory is one fixed ring; a feeder that finds it full waits for room, for a
// bounded time, and never makes it grow.
#pragma once

#include "base/sha256.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class PiecePipe {
public:
    // Takes one piece; false fails the pipe.
    using Consumer = std::function<bool(const char* data, std::size_t size)>;

    // waitLimitMs bounds each wait for room and the wait for the last bytes to
    // be taken: a consumer that frees nothing within it fails the pipe.
    PiecePipe(Consumer consume, std::size_t ringBytes, std::uint32_t waitLimitMs);
    // Tells the thread to stop after the piece it may be in; never waits for it.
    ~PiecePipe();
    PiecePipe(const PiecePipe&) = delete;
    PiecePipe& operator=(const PiecePipe&) = delete;

    // Copies the bytes in; one feeder at a time. False once the pipe failed (see
    // Error): a failed pipe takes nothing more, so no digest of part of the bytes comes out.
    bool Push(const void* data, std::size_t size);
    // Waits until the consumer has taken every byte pushed; false when the pipe failed.
    bool Drain();
    // Why it failed: ERROR_NOT_ENOUGH_MEMORY (no thread or ring), ERROR_TIMEOUT (no
    // room or no end in time), ERROR_FUNCTION_FAILED (the consumer refused); 0 while it works.
    DWORD Error() const;

private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the thread, which may outlive the pipe
};

// The SHA-256 of the bytes fed, computed on a pipe's thread.
class Sha256Pipe {
public:
    explicit Sha256Pipe(std::uint32_t waitLimitMs, std::size_t ringBytes = 4 * 1024 * 1024);
    bool Update(const void* data, std::size_t size) { return pipe_.Push(data, size); }
    // Once every byte fed is hashed; false when any was not.
    bool Finish(unsigned char (&digest)[32]);
    DWORD Error() const { return pipe_.Error(); }

private:
    std::shared_ptr<Sha256> hash_;  // the thread's, until drained
    PiecePipe pipe_;
};
