#pragma once
// The bytes received on a connection and not yet taken: line reading with its length
// limit, and the waits for more data that run the idle pump while nothing arrives.
#include "http/request_deadline.h"

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vornel::http {

class Transport;

class InputBuffer {
public:
    static constexpr size_t kReceiveChunk = 32768;
    static constexpr size_t kMaxLineLength = 16384;
    static constexpr int kDefaultReadTimeoutMs = 60000;

    // A wait in which no byte arrives for readTimeoutMs fails with "Read timed out.".
    InputBuffer(Transport& transport, const std::atomic<bool>& aborted, int readTimeoutMs = kDefaultReadTimeoutMs);

    size_t size() const { return end_ - begin_; }
    const char* data() const { return storage_.data() + begin_; }
    void consume(size_t count);
    void clear();
    // The peer closed the connection: no more bytes will arrive.
    bool closed() const { return closed_; }
    void markClosed() { closed_ = true; }
    // Every wait fails with "Read timed out." once the deadline has passed, whatever
    // arrives meanwhile. Set for each request (none: only the read time-out applies).
    void setDeadline(const RequestDeadline& deadline) { deadline_ = deadline; }

    // Waits for at least one more byte, in readiness checks of the pump's idle time-out,
    // running the pump after each empty one. False when the peer closed; a failure
    // (kind "EIdReadTimeout") when nothing arrived within the read time-out.
    bool receiveMore();
    // As receiveMore, but gives up (false) after limitMs without data.
    bool receiveWithin(int limitMs);
    // Receives until at least `count` bytes are buffered or the peer closed.
    void fillTo(size_t count);

    // The next line without its LF (and a CR before it); nullopt when the peer closed first.
    // consumed (when given) receives the bytes the line took from the input.
    std::optional<std::string> readLine(size_t* consumed = nullptr);

private:
    enum class Wait { Received, Closed, TimedOut };
    Wait waitForBytes(int limitMs);
    bool took(size_t received);
    void makeRoom();

    Transport& transport_;
    const std::atomic<bool>& aborted_;
    int readTimeoutMs_;
    RequestDeadline deadline_;
    std::vector<char> storage_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool closed_ = false;
};

} // namespace vornel::http
