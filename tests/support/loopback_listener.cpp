#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vornel::test {

LoopbackListener::LoopbackListener(int backlog)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close();
        throw std::runtime_error("bind/listen on 127.0.0.1 failed");
    }
    port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    close();
}

void LoopbackListener::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

uint16_t closedLoopbackPort()
{
    return LoopbackListener(1).port();
}

} // namespace vornel::test
