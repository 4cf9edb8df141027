#include "net/request_body_writer.h"

#include "net/transfer_state.h"
#include "net/wininet_calls.h"

#include <algorithm>

RequestBodyWriter::RequestBodyWriter(TransferState& state) : state_(state), pieces_(NowMs()) {}

bool RequestBodyWriter::Write(const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, pieces_.Next()));
        DWORD written = 0;
        const std::uint64_t started = NowMs();
        const BOOL sent = ::InternetWriteFile(state_.Request(), next, piece, &written);
        const DWORD error = sent ? ERROR_WRITE_FAULT : ::GetLastError();
        if (state_.context.Abandoned()) {
            Fail(TransferEnd::Stalled, 0);  // given up by the caller, which no longer listens
            return false;
        }
        const std::uint64_t elapsed = NowMs() - started;
        if (!sent || written == 0) {
            Fail(ClassifyError(error, elapsed, state_.timeoutMs), error);
            return false;
        }
        pieces_.Moved(piece, written, started, started + elapsed);
        next += written;
        size -= written;
        const TransferEnd end = state_.Moved(written);
        if (end != TransferEnd::Complete) {
            Fail(end, 0);
            return false;
        }
    }
    return true;
}

void RequestBodyWriter::Fail(TransferEnd end, DWORD error)
{
    state_.outcome.end = end;
    state_.outcome.error = error;
}
