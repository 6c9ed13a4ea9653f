#pragma once
// A loopback server for replies that never end: after the request head it sends a fixed
// opening, then the same piece again and again until the client goes away (or a cap that
// no passing test reaches). It holds one piece in memory, whatever it sends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vornel::test {

class EndlessServer {
public:
    EndlessServer(std::string opening, std::string piece, uint64_t cap = uint64_t{4} << 30)
        : opening_(std::move(opening)), piece_(std::move(piece)), cap_(cap)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~EndlessServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    EndlessServer(const EndlessServer&) = delete;
    EndlessServer& operator=(const EndlessServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/endless"; }
    uint64_t sent() const { return sent_; }

private:
    void serve()
    {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) <= 0)
            return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        readHead(fd);
        bool open = sendAll(fd, opening_);
        while (open && sent_ < cap_)
            open = sendAll(fd, piece_);
        ::close(fd);
    }
    static void readHead(int fd)
    {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            head.append(buffer, static_cast<size_t>(got));
        }
    }
    bool sendAll(int fd, const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
            sent_ += static_cast<uint64_t>(n);
        }
        return true;
    }

    std::string opening_;
    std::string piece_;
    uint64_t cap_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<uint64_t> sent_{0};
    std::thread thread_;
};

} // namespace vornel::test
