#include "http/socket_connect.h"

#include "http/http_error.h"
#include "http/idle_pump.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace vornel::http {
namespace {

constexpr int kHostNotFound = 11001;
constexpr int kInvalidArgument = 10022;
constexpr auto kConnectLimit = std::chrono::milliseconds(120000);

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
};

uint16_t parsePort(const std::string& port)
{
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw SocketError(kInvalidArgument);
    const int value = std::stoi(port);
    if (value > 65535)
        throw SocketError(kInvalidArgument);
    return static_cast<uint16_t>(value);
}

Address resolve(const std::string& host, uint16_t port, bool ipv6)
{
    Address address;
    if (ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
        if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) != 1)
            throw SocketError(kHostNotFound);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
        address.family = AF_INET6;
        return address;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    address.length = sizeof(sockaddr_in);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1)
        return address;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
#ifdef AI_IDN
    hints.ai_flags = AI_IDN;
#endif
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result == EAI_SYSTEM)
        throw SocketError(socketErrorFromErrno(errno));
    if (result != 0 || found == nullptr)
        throw SocketError(kHostNotFound);
    v4->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return address;
}

[[noreturn]] void throwConnectFailure(int err)
{
    const int number = socketErrorFromErrno(err);
    if (number == 10009 || number == 10038)
        throw HttpError(FailureKind::ConnectException, std::strerror(err));
    throw SocketError(number);
}

class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int release() { return std::exchange(fd_, -1); }
    int get() const { return fd_; }

private:
    int fd_;
};

void setBlocking(int fd, bool blocking)
{
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// Waits for a non-blocking connect in steps, running the pump between them on the window thread.
void awaitConnect(int fd, const std::atomic<bool>& aborted, const RequestDeadline& deadline)
{
    const bool pumping = IdlePump::willRun();
    const int step = pumping ? std::min(IdlePump::idleTimeout(), 125) : 125;
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        pollfd writable{fd, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, std::max(1, deadline.msLeft(step)));
        if (ready < 0 && errno != EINTR)
            throwConnectFailure(errno);
        if (ready > 0) {
            int err = 0;
            socklen_t length = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
                err = errno;
            if (err != 0)
                throwConnectFailure(err);
            return;
        }
        if (aborted)
            throwAborted();
        deadline.check();
        if (!pumping)
            continue;
        IdlePump::runIfDue();
        if (aborted)
            throwAborted();
        if (std::chrono::steady_clock::now() - started >= kConnectLimit)
            throw HttpError(FailureKind::ConnectTimeout, "Connect timed out.");
    }
}

} // namespace

void throwAborted()
{
    throw HttpError(FailureKind::RequestAborted, "Request aborted.");
}

int connectSocket(const std::string& host, const std::string& port, bool ipv6, const std::atomic<bool>& aborted,
                  const RequestDeadline& deadline)
{
    const Address address = resolve(host, parsePort(port), ipv6);
    if (aborted)
        throwAborted();
    SocketGuard socket(::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0)
        throw SocketError(socketErrorFromErrno(errno));
    setBlocking(socket.get(), false);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0) {
        if (errno != EINPROGRESS)
            throwConnectFailure(errno);
        awaitConnect(socket.get(), aborted, deadline);
    }
    setBlocking(socket.get(), true);
    return socket.release();
}

} // namespace vornel::http
