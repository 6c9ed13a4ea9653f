#include "fuzz/support/loopback_reply.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace vornel::fuzz {

namespace {

// One listening socket on 127.0.0.1 for the whole run; its port as text.
struct Listener {
    int fd = -1;
    std::string port;

    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no loopback listener for the fuzz target");
        port = std::to_string(ntohs(address.sin_port));
    }
};

Listener& listener()
{
    static Listener instance;
    return instance;
}

void sendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return; // the reader closed early; what it did not take does not matter
        done += static_cast<size_t>(sent);
    }
}

// A connection that closes at once, for a sender whose reader never came.
void unblockAccept()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(listener().port)));
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
}

} // namespace

LoopbackReply::LoopbackReply(std::string bytes)
{
    const int listening = listener().fd;
    sender_ = std::thread([listening, bytes = std::move(bytes)] {
        const int peer = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0)
            return;
        sendAll(peer, bytes);
        ::shutdown(peer, SHUT_WR);
        // Wait for the reader to close, so the connection ends with a clean close.
        char drain[256];
        while (::recv(peer, drain, sizeof drain, 0) > 0) {}
        ::close(peer);
    });
    try {
        transport_.connect("127.0.0.1", listener().port, false, false, aborted_);
    } catch (...) {
        unblockAccept();
        sender_.join();
        throw;
    }
}

LoopbackReply::~LoopbackReply()
{
    transport_.close();
    sender_.join();
}

} // namespace vornel::fuzz
