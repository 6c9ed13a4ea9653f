#pragma once
// A TCP socket bound to 127.0.0.1 on a port the system picks, listening.
#include <cstdint>

namespace vornel::test {

class LoopbackListener {
public:
    // Throws std::runtime_error when the socket cannot be bound or listen.
    explicit LoopbackListener(int backlog = 16);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return fd_; }
    uint16_t port() const { return port_; }
    // Closes the socket now (the port is then free, nothing listens on it).
    void close();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A loopback port on which nothing listens: bound once, then given up.
uint16_t closedLoopbackPort();

} // namespace vornel::test
