#include "demo/http_server.h"

#include "demo/request_log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vornel::demo {
namespace {

constexpr std::size_t kMaxHeadBytes = 16 * 1024;
constexpr int kIdleTimeoutMs = 15000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kMaxConnections = 64;

bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

bool sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        if (!waitFor(fd, POLLOUT, kSendTimeoutMs))
            return false;
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads until pending holds a whole request head; false on close, time-out or oversize.
bool readHead(int fd, std::string& pending, std::size_t& headEnd)
{
    for (;;) {
        headEnd = pending.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            headEnd += 4;
            return true;
        }
        if (pending.size() > kMaxHeadBytes)
            return false;
        if (!waitFor(fd, POLLIN, kIdleTimeoutMs))
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

HttpResponse plainError(int status, const char* reason)
{
    return htmlResponse(status, reason, std::string("<html><body><h1>") + reason + "</h1></body></html>\n");
}

} // namespace

std::string HttpServer::listen(const std::string& address, int port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        return "bad address " + address;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return std::string("socket: ") + std::strerror(errno);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listenFd_, 64) != 0) {
        const std::string error = std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return "cannot listen on " + address + ":" + std::to_string(port) + ": " + error;
    }
    socklen_t len = sizeof sa;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    address_ = address;
    port_ = ntohs(sa.sin_port);
    return {};
}

void HttpServer::start()
{
    std::thread([this] { acceptLoop(); }).detach();
}

void HttpServer::acceptLoop()
{
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE) {
                if (errno == EMFILE || errno == ENFILE)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            return;
        }
        if (openConnections_.fetch_add(1) >= kMaxConnections) {
            sendAll(fd, formatResponseHead(plainError(503, "Service Unavailable"), false));
            ::close(fd);
            openConnections_.fetch_sub(1);
            continue;
        }
        std::thread([this, fd] {
            serveConnection(fd);
            ::close(fd);
            openConnections_.fetch_sub(1);
        }).detach();
    }
}

void HttpServer::serveConnection(int fd)
{
    std::string pending;
    while (serveOneRequest(fd, pending)) {}
}

// Serves the next request on the connection; false when the connection is to be closed.
bool HttpServer::serveOneRequest(int fd, std::string& pending)
{
    std::size_t headEnd = 0;
    if (!readHead(fd, pending, headEnd)) {
        if (pending.size() > kMaxHeadBytes)
            sendAll(fd, formatResponseHead(plainError(431, "Request Header Fields Too Large"), false));
        return false;
    }
    HttpRequest request;
    const bool parsed = parseRequestHead(std::string_view(pending).substr(0, headEnd), request);
    pending.erase(0, headEnd);
    if (!parsed) {
        const HttpResponse bad = plainError(400, "Bad Request");
        sendAll(fd, formatResponseHead(bad, false) + std::string(bad.body()));
        return false;
    }
    log_.write(name(), request.target);
    // Requests with a body are not expected here; rather than skip one, end the connection.
    const bool hasBody = !request.header("Content-Length").empty() && request.header("Content-Length") != "0";
    const bool keepAlive = request.keepAlive() && !hasBody && request.header("Transfer-Encoding").empty();
    HttpResponse response;
    if (request.method == "GET" || request.method == "HEAD") {
        response = handler_(request);
    } else {
        response = plainError(405, "Method Not Allowed");
        response.headers.emplace_back("Allow", "GET, HEAD");
    }
    if (!sendAll(fd, formatResponseHead(response, keepAlive)))
        return false;
    if (request.method != "HEAD" && !sendAll(fd, response.body()))
        return false;
    return keepAlive;
}

} // namespace vornel::demo
