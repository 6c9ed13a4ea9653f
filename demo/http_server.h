#pragma once
// A small HTTP/1.1 server on one address and port: one thread accepts, one thread serves
// each connection (keep-alive honoured, idle connections closed after a while).
#include "demo/http_message.h"

#include <atomic>
#include <functional>
#include <string>

namespace vornel::demo {

class RequestLog;

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

class HttpServer {
public:
    HttpServer(HttpHandler handler, RequestLog& log) : handler_(std::move(handler)), log_(log) {}
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; returns an error text, empty on success. Port 0 picks a free one.
    std::string listen(const std::string& address, int port);
    // Starts the accept thread (detached); the server then lives until the process ends.
    void start();
    int port() const { return port_; }
    // "127.0.0.1:8690", the form the request log uses.
    std::string name() const { return address_ + ":" + std::to_string(port_); }

private:
    void acceptLoop();
    void serveConnection(int fd);
    bool serveOneRequest(int fd, std::string& pending);

    HttpHandler handler_;
    RequestLog& log_;
    std::string address_;
    int port_ = 0;
    int listenFd_ = -1;
    std::atomic<int> openConnections_{0};
};

} // namespace vornel::demo
