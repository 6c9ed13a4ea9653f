#include "http/input_buffer.h"

#include "http/http_error.h"
#include "http/idle_pump.h"
#include "http/socket_connect.h"
#include "http/transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vornel::http {

InputBuffer::InputBuffer(Transport& transport, const std::atomic<bool>& aborted, int readTimeoutMs)
    : transport_(transport), aborted_(aborted), readTimeoutMs_(std::max(1, readTimeoutMs)), storage_(2 * kReceiveChunk)
{}

void InputBuffer::consume(size_t count)
{
    begin_ += std::min(count, size());
    if (begin_ == end_)
        begin_ = end_ = 0;
}

void InputBuffer::clear()
{
    begin_ = end_ = 0;
    closed_ = false;
}

void InputBuffer::makeRoom()
{
    if (storage_.size() - end_ >= kReceiveChunk)
        return;
    if (begin_ > 0) {
        std::memmove(storage_.data(), storage_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    if (storage_.size() - end_ < kReceiveChunk)
        storage_.resize(end_ + kReceiveChunk);
}

bool InputBuffer::took(size_t got)
{
    if (aborted_)
        throwAborted();
    if (got == 0) {
        closed_ = true;
        return false;
    }
    end_ += got;
    return true;
}

// Tries a read first (while data streams in there is no readiness wait), then waits in
// steps of the pump's idle time-out. Bytes reaching the socket restart the limit even when
// they are not yet data (a TLS record arriving in parts); the request's deadline does not
// move.
InputBuffer::Wait InputBuffer::waitForBytes(int limitMs)
{
    using Clock = std::chrono::steady_clock;
    const auto limit = std::chrono::milliseconds(limitMs);
    makeRoom();
    auto quietUntil = Clock::now() + limit;
    for (;;) {
        if (aborted_)
            throwAborted();
        deadline_.check();
        if (const auto got = transport_.readIfReady(storage_.data() + end_, kReceiveChunk)) {
            const bool received = took(*got);
            IdlePump::runIfOverdue();
            return received ? Wait::Received : Wait::Closed;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(quietUntil - Clock::now()).count();
        if (left <= 0)
            return Wait::TimedOut;
        const int step = static_cast<int>(std::min<long long>(left, IdlePump::idleTimeout()));
        if (transport_.waitReadable(std::max(1, deadline_.msLeft(step))))
            quietUntil = Clock::now() + limit;
        else
            IdlePump::runIfDue();
    }
}

bool InputBuffer::receiveMore()
{
    if (closed_)
        return false;
    const Wait wait = waitForBytes(readTimeoutMs_);
    if (wait == Wait::TimedOut)
        throw HttpError(FailureKind::ReadTimeout, "Read timed out.");
    return wait == Wait::Received;
}

bool InputBuffer::receiveWithin(int limitMs)
{
    if (closed_)
        return false;
    return waitForBytes(limitMs) == Wait::Received;
}

void InputBuffer::fillTo(size_t count)
{
    while (size() < count && receiveMore()) {}
}

std::optional<std::string> InputBuffer::readLine(size_t* consumed)
{
    size_t searched = 0;
    for (;;) {
        const char* start = data();
        const void* lf = std::memchr(start + searched, '\n', size() - searched);
        if (lf != nullptr) {
            const size_t length = static_cast<const char*>(lf) - start;
            // The limit counts every byte before the LF, a CR included.
            if (length > kMaxLineLength)
                throw HttpError(FailureKind::ReadLnMaxLineLengthExceeded, "Max line length exceeded.");
            size_t contentLength = length;
            if (contentLength > 0 && start[contentLength - 1] == '\r')
                --contentLength;
            std::string line(start, contentLength);
            consume(length + 1);
            if (consumed)
                *consumed = length + 1;
            return line;
        }
        searched = size();
        if (searched > kMaxLineLength)
            throw HttpError(FailureKind::ReadLnMaxLineLengthExceeded, "Max line length exceeded.");
        if (!receiveMore())
            return std::nullopt;
    }
}

} // namespace vornel::http
