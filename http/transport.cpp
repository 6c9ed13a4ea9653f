#include "http/transport.h"

#include "http/http_error.h"
#include "http/socket_connect.h"
#include "http/tls_session.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vornel::http {

Transport::Transport(bool tlsCapable) : tlsCapable_(tlsCapable) {}

Transport::~Transport()
{
    close();
}

void Transport::connect(const std::string& host, const std::string& port, bool ipv6, bool tls,
                        const std::atomic<bool>& aborted, const RequestDeadline& deadline)
{
    close();
    fd_ = connectSocket(host, port, ipv6, aborted, deadline);
    host_ = host;
    port_ = port;
    if (!tls)
        return;
    try {
        tls_ = std::make_unique<TlsSession>(fd_, host);
        tls_->handshake();
    } catch (...) {
        close();
        throw;
    }
}

void Transport::close()
{
    tls_.reset();
    {
        std::lock_guard lock(fdMutex_);
        const int fd = fd_.exchange(-1);
        if (fd >= 0)
            ::close(fd);
    }
    host_.clear();
    port_.clear();
}

bool Transport::waitReadable(int timeoutMs)
{
    if (tls_ && tls_->hasPending())
        return true;
    pollfd readable{fd_, POLLIN, 0};
    const int ready = ::poll(&readable, 1, timeoutMs);
    if (ready < 0 && errno != EINTR)
        throw SocketError(socketErrorFromErrno(errno));
    return ready > 0;
}

size_t Transport::read(char* buffer, size_t size)
{
    if (tls_)
        return tls_->read(buffer, size);
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, size, 0);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno != EINTR)
            throw SocketError(socketErrorFromErrno(errno));
    }
}

std::optional<size_t> Transport::readIfReady(char* buffer, size_t size)
{
    if (tls_)
        return tls_->readIfReady(buffer, size);
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (got >= 0)
            return static_cast<size_t>(got);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::nullopt;
        if (errno != EINTR)
            throw SocketError(socketErrorFromErrno(errno));
    }
}

void Transport::write(const std::string& bytes)
{
    if (tls_) {
        tls_->write(bytes.data(), bytes.size());
        return;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            throw SocketError(socketErrorFromErrno(errno));
        }
        done += static_cast<size_t>(sent);
    }
}

bool Transport::idleAndUsable()
{
    if (!isOpen())
        return false;
    if (tls_ && tls_->hasPending())
        return false;
    pollfd readable{fd_, POLLIN, 0};
    return ::poll(&readable, 1, 0) == 0;
}

void Transport::abort()
{
    std::lock_guard lock(fdMutex_);
    const int fd = fd_.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

} // namespace vornel::http
