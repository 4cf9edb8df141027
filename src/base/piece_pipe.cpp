#include "base/piece_pipe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The consumer takes at most this much at once, so room comes back while it works.
constexpr std::size_t kLargestTake = 1024 * 1024;

}  // namespace

struct PiecePipe::State {
    std::mutex mutex;
    std::condition_variable changed;  // bytes pushed or taken, a failure, the stop
    std::vector<char> ring;
    std::size_t readAt = 0;  // the consumer's next byte
    std::size_t used = 0;    // pushed, not yet taken: taken only once the consumer returns
    DWORD error = ERROR_SUCCESS;
    bool stopped = false;
    std::chrono::milliseconds waitLimit{0};
    Consumer consume;

    static void Run(std::shared_ptr<State> state);
    // Waits until ready() holds, or the pipe failed; a wait that runs out fails it.
    template <typename Ready>
    bool WaitFor(std::unique_lock<std::mutex>& lock, Ready ready)
    {
        if (!changed.wait_for(lock, waitLimit, [&] { return error != ERROR_SUCCESS || ready(); })) {
            error = ERROR_TIMEOUT;
        }
        return error == ERROR_SUCCESS;
    }
};

// Ends with the pipe: once told to stop, or failed.
void PiecePipe::State::Run(std::shared_ptr<State> state)
{
    State& s = *state;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] { return s.stopped || s.error != ERROR_SUCCESS || s.used > 0; });
        if (s.stopped || s.error != ERROR_SUCCESS) {
            return;
        }
        const std::size_t size = std::min({s.used, s.ring.size() - s.readAt, kLargestTake});
        const char* data = s.ring.data() + s.readAt;
        lock.unlock();  // the feeder fills other bytes of the ring meanwhile
        const bool taken = s.consume(data, size);
        lock.lock();
        if (!taken) {
            s.error = ERROR_FUNCTION_FAILED;
        } else {
            s.readAt = (s.readAt + size) % s.ring.size();
            s.used -= size;
        }
        s.changed.notify_all();
    }
}

PiecePipe::PiecePipe(Consumer consume, std::size_t ringBytes, std::uint32_t waitLimitMs)
{
    try {
        auto state = std::make_shared<State>();
        state->ring.resize(std::max<std::size_t>(ringBytes, 1));
        state->waitLimit = std::chrono::milliseconds(waitLimitMs);
        state->consume = std::move(consume);
        std::thread(&State::Run, state).detach();
        state_ = std::move(state);
    } catch (const std::exception&) {
        // No ring or no thread: every push fails.
    }
}

PiecePipe::~PiecePipe()
{
    if (state_) {
        std::lock_guard<std::mutex> hold(state_->mutex);
        state_->stopped = true;
        state_->changed.notify_all();
    }
}

bool PiecePipe::Push(const void* data, std::size_t size)
{
    if (!state_) {
        return false;
    }
    State& s = *state_;
    const char* bytes = static_cast<const char*>(data);
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.error != ERROR_SUCCESS) {
        return false;
    }
    while (size > 0) {
        if (!s.WaitFor(lock, [&] { return s.used < s.ring.size(); })) {
            return false;
        }
        const std::size_t writeAt = (s.readAt + s.used) % s.ring.size();
        const std::size_t piece = std::min({size, s.ring.size() - s.used, s.ring.size() - writeAt});
        lock.unlock();  // bytes the consumer does not read until they are counted in `used`
        std::memcpy(s.ring.data() + writeAt, bytes, piece);
        lock.lock();
        s.used += piece;
        s.changed.notify_all();
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool PiecePipe::Drain()
{
    if (!state_) {
        return false;
    }
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->WaitFor(lock, [&] { return state_->used == 0; });
}

DWORD PiecePipe::Error() const
{
    if (!state_) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::lock_guard<std::mutex> hold(state_->mutex);
    return state_->error;
}

Sha256Pipe::Sha256Pipe(std::uint32_t waitLimitMs, std::size_t ringBytes)
    : hash_(std::make_shared<Sha256>()),
      pipe_([hash = hash_](const char* data, std::size_t size) { return hash->Update(data, size); }, ringBytes,
            waitLimitMs)
{
}

bool Sha256Pipe::Finish(unsigned char (&digest)[32])
{
    // Drained, the thread touches the hash no more; a later push fails with the used-up hash.
    return pipe_.Drain() && hash_->Finish(digest);
}
