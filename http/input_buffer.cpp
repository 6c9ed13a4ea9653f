#include "http/input_buffer.h"

#include "http/http_error.h"
#include "http/idle_pump.h"
#include "http/socket_connect.h"
#include "http/transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vornel::http {

InputBuffer::InputBuffer(Transport& transport, const std::atomic<bool>& aborted)
    : transport_(transport), aborted_(aborted), storage_(2 * kReceiveChunk) {}

void InputBuffer::consume(size_t count) {
    begin_ += std::min(count, size());
    if (begin_ == end_) begin_ = end_ = 0;
}

void InputBuffer::clear() {
    begin_ = end_ = 0;
    closed_ = false;
}

void InputBuffer::makeRoom() {
    if (storage_.size() - end_ >= kReceiveChunk) return;
    if (begin_ > 0) {
        std::memmove(storage_.data(), storage_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    if (storage_.size() - end_ < kReceiveChunk) storage_.resize(end_ + kReceiveChunk);
}

bool InputBuffer::receiveOnce() {
    makeRoom();
    const size_t got = transport_.read(storage_.data() + end_, kReceiveChunk);
    return took(got);
}

bool InputBuffer::took(size_t got) {
    if (aborted_) throwAborted();
    if (got == 0) {
        closed_ = true;
        return false;
    }
    end_ += got;
    return true;
}

bool InputBuffer::receiveMore() {
    if (closed_) return false;
    // While data streams in, skip the readiness wait.
    makeRoom();
    if (const auto got = transport_.readIfReady(storage_.data() + end_, kReceiveChunk)) return took(*got);
    for (;;) {
        if (aborted_) throwAborted();
        if (transport_.waitReadable(IdlePump::idleTimeout())) return receiveOnce();
        IdlePump::runIfDue();
    }
}

bool InputBuffer::receiveWithin(int limitMs) {
    if (closed_) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (aborted_) throwAborted();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        const int wait = static_cast<int>(std::min<long long>(left, IdlePump::idleTimeout()));
        if (transport_.waitReadable(wait)) return receiveOnce();
        IdlePump::runIfDue();
    }
}

void InputBuffer::fillTo(size_t count) {
    while (size() < count && receiveMore()) {
    }
}

std::optional<std::string> InputBuffer::readLine(size_t* consumed) {
    size_t searched = 0;
    for (;;) {
        const char* start = data();
        const void* lf = std::memchr(start + searched, '\n', size() - searched);
        if (lf != nullptr) {
            const size_t length = static_cast<const char*>(lf) - start;
            size_t contentLength = length;
            if (contentLength > 0 && start[contentLength - 1] == '\r') --contentLength;
            if (contentLength > kMaxLineLength)
                throw HttpError("EIdReadLnMaxLineLengthExceeded", "Max line length exceeded.");
            std::string line(start, contentLength);
            consume(length + 1);
            if (consumed) *consumed = length + 1;
            return line;
        }
        searched = size();
        if (searched > kMaxLineLength + 1)
            throw HttpError("EIdReadLnMaxLineLengthExceeded", "Max line length exceeded.");
        if (!receiveMore()) return std::nullopt;
    }
}

} // namespace vornel::http
