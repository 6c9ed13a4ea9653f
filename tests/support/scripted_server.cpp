#include "tests/support/scripted_server.h"
#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vornel::test {

using Clock = std::chrono::steady_clock;

ConnectionScript& ConnectionScript::expectHead()
{
    steps_.push_back({Step::Kind::ExpectHead, {}, 0, Millis(0)});
    return *this;
}

ConnectionScript& ConnectionScript::send(std::string bytes)
{
    steps_.push_back({Step::Kind::Send, std::move(bytes), 0, Millis(0)});
    return *this;
}

ConnectionScript& ConnectionScript::drip(std::string bytes, size_t pieceSize, Millis pause)
{
    steps_.push_back({Step::Kind::Send, std::move(bytes), std::max<size_t>(pieceSize, 1), pause});
    return *this;
}

ConnectionScript& ConnectionScript::wait(Millis duration)
{
    steps_.push_back({Step::Kind::Wait, {}, 0, duration});
    return *this;
}

ConnectionScript& ConnectionScript::waitFor(std::function<bool()> ready, Millis limit)
{
    steps_.push_back({Step::Kind::WaitFor, {}, 0, limit, std::move(ready)});
    return *this;
}

ConnectionScript& ConnectionScript::expectPeerClose(Millis limit)
{
    steps_.push_back({Step::Kind::ExpectPeerClose, {}, 0, limit});
    return *this;
}

ConnectionScript& ConnectionScript::close()
{
    steps_.push_back({Step::Kind::Close, {}, 0, Millis(0)});
    return *this;
}

ConnectionScript& ConnectionScript::reset()
{
    steps_.push_back({Step::Kind::Reset, {}, 0, Millis(0)});
    return *this;
}

ConnectionScript& ConnectionScript::reply200(std::string body)
{
    return expectHead().send(ScriptedServer::ok200(body));
}

Route Route::fromFile(const std::string& filePath, std::string contentType)
{
    std::ifstream in(filePath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + filePath);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    Route route;
    route.body = bytes.str();
    route.contentType = std::move(contentType);
    return route;
}

namespace {

const char* reasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

std::string ScriptedServer::ok200(const std::string& body, const std::string& contentType)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

struct ScriptedServer::Impl {
    LoopbackListener listener;
    std::atomic<bool> stopping{false};
    std::thread acceptThread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<ConnectionScript> scripts;
    std::map<std::string, Route> routes;
    std::vector<std::string> heads;
    std::vector<std::vector<std::string>> headsPerConnection;
    std::vector<bool> closedByPeer;
    std::vector<int> openFds;
    std::vector<std::thread> connectionThreads;
    size_t finished = 0;

    void acceptLoop();
    void serve(int fd, size_t index);
    void runScript(int fd, size_t index, const ConnectionScript& script);
    void runRoutes(int fd, size_t index);

    // Connection primitives; false when the connection is over.
    std::optional<std::string> readHead(int fd, std::string& buffer);
    bool sendAll(int fd, const std::string& bytes);
    bool sendDripping(int fd, const std::string& bytes, size_t pieceSize, Millis pause);
    bool sleepFor(Millis duration);
    bool waitPeerClose(int fd, Millis limit);
    void record(size_t index, const std::string& head);
};

ScriptedServer::ScriptedServer() : impl_(std::make_shared<Impl>())
{
    impl_->acceptThread = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

ScriptedServer::~ScriptedServer()
{
    impl_->stopping = true;
    ::shutdown(impl_->listener.fd(), SHUT_RDWR);
    impl_->acceptThread.join();
    impl_->listener.close();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(impl_->mutex);
        for (int fd : impl_->openFds)
            ::shutdown(fd, SHUT_RDWR);
        threads.swap(impl_->connectionThreads);
    }
    for (auto& thread : threads)
        thread.join();
}

uint16_t ScriptedServer::port() const
{
    return impl_->listener.port();
}

std::string ScriptedServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(impl_->listener.port()) + path;
}

void ScriptedServer::addConnection(ConnectionScript script)
{
    std::lock_guard lock(impl_->mutex);
    impl_->scripts.push_back(std::move(script));
}

void ScriptedServer::addRoute(const std::string& path, Route route)
{
    std::lock_guard lock(impl_->mutex);
    impl_->routes[path] = std::move(route);
}

std::vector<std::string> ScriptedServer::requestHeads() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->heads;
}

std::vector<std::vector<std::string>> ScriptedServer::headsByConnection() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->headsPerConnection;
}

size_t ScriptedServer::connectionCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->headsPerConnection.size();
}

std::vector<bool> ScriptedServer::peerClosed() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->closedByPeer;
}

bool ScriptedServer::waitForFinishedConnections(size_t n, Millis limit) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, limit, [&] { return impl_->finished >= n; });
}

void ScriptedServer::Impl::acceptLoop()
{
    while (!stopping) {
        const int fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping || (errno != EINTR && errno != ECONNABORTED))
                return;
            continue;
        }
        std::lock_guard lock(mutex);
        if (stopping) {
            ::close(fd);
            return;
        }
        const size_t index = headsPerConnection.size();
        headsPerConnection.emplace_back();
        openFds.push_back(fd);
        connectionThreads.emplace_back([this, fd, index] { serve(fd, index); });
    }
}

void ScriptedServer::Impl::serve(int fd, size_t index)
{
    std::optional<ConnectionScript> script;
    {
        std::lock_guard lock(mutex);
        if (!scripts.empty()) {
            script = std::move(scripts.front());
            scripts.pop_front();
        }
    }
    if (script)
        runScript(fd, index, *script);
    else
        runRoutes(fd, index);
    {
        std::lock_guard lock(mutex);
        openFds.erase(std::remove(openFds.begin(), openFds.end(), fd), openFds.end());
        ++finished;
    }
    ::close(fd);
    changed.notify_all();
}

void ScriptedServer::Impl::runScript(int fd, size_t index, const ConnectionScript& script)
{
    using Kind = ConnectionScript::Step::Kind;
    std::string buffer;
    for (const auto& step : script.steps()) {
        if (stopping)
            return;
        switch (step.kind) {
        case Kind::ExpectHead: {
            auto head = readHead(fd, buffer);
            if (!head)
                return;
            record(index, *head);
            break;
        }
        case Kind::Send:
            if (step.pieceSize == 0 ? !sendAll(fd, step.bytes)
                                    : !sendDripping(fd, step.bytes, step.pieceSize, step.pause))
                return;
            break;
        case Kind::Wait:
            if (!sleepFor(step.pause))
                return;
            break;
        case Kind::WaitFor:
            for (const auto limit = Clock::now() + step.pause; !step.ready() && Clock::now() < limit;) {
                if (!sleepFor(Millis(5)))
                    return;
            }
            break;
        case Kind::ExpectPeerClose: {
            const bool closed = waitPeerClose(fd, step.pause);
            std::lock_guard lock(mutex);
            closedByPeer.push_back(closed);
            break;
        }
        case Kind::Close: ::shutdown(fd, SHUT_WR); return;
        case Kind::Reset: {
            const linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            return;
        }
        }
    }
    ::shutdown(fd, SHUT_WR);
}

void ScriptedServer::Impl::runRoutes(int fd, size_t index)
{
    std::string buffer;
    while (!stopping) {
        auto head = readHead(fd, buffer);
        if (!head)
            return;
        record(index, *head);
        // "GET <target> HTTP/1.1"
        const size_t start = head->find(' ');
        const size_t end = head->find(' ', start + 1);
        std::string target = start == std::string::npos || end == std::string::npos
                                 ? std::string()
                                 : head->substr(start + 1, end - start - 1);
        std::optional<Route> route;
        {
            std::lock_guard lock(mutex);
            auto found = routes.find(target);
            if (found == routes.end())
                found = routes.find(target.substr(0, target.find('?')));
            if (found != routes.end())
                route = found->second;
        }
        if (!route) {
            route.emplace();
            route->status = 404;
            route->body = "not found";
            route->contentType = "text/plain";
        }
        std::string reply = "HTTP/1.1 " + std::to_string(route->status) + " " + reasonOf(route->status) +
                            "\r\nContent-Type: " + route->contentType + "\r\n";
        if (route->lengthFramed)
            reply += "Content-Length: " + std::to_string(route->body.size()) + "\r\n";
        else
            reply += "Connection: close\r\n";
        for (const auto& line : route->extraHeaders)
            reply += line + "\r\n";
        reply += "\r\n";
        // Head and an undripped body go out in one write: a second small write would wait
        // for the client's delayed acknowledgement (Nagle), some 40 ms per request.
        const bool sent = route->dripSize == 0
                              ? sendAll(fd, reply + route->body)
                              : sendAll(fd, reply) && sendDripping(fd, route->body, route->dripSize, route->dripPause);
        if (!sent || !route->lengthFramed)
            return;
    }
}

std::optional<std::string> ScriptedServer::Impl::readHead(int fd, std::string& buffer)
{
    const auto deadline = Clock::now() + Millis(10000);
    while (!stopping) {
        const size_t end = buffer.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::string head = buffer.substr(0, end + 4);
            buffer.erase(0, end + 4);
            return head;
        }
        const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(got));
    }
    return std::nullopt;
}

bool ScriptedServer::Impl::sendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopping)
            return false;
        pollfd writable{fd, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, 100);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool ScriptedServer::Impl::sendDripping(int fd, const std::string& bytes, size_t pieceSize, Millis pause)
{
    for (size_t offset = 0; offset < bytes.size(); offset += pieceSize) {
        if (offset > 0 && !sleepFor(pause))
            return false;
        if (!sendAll(fd, bytes.substr(offset, pieceSize)))
            return false;
    }
    return true;
}

bool ScriptedServer::Impl::sleepFor(Millis duration)
{
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (stopping)
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(Millis(20), until - Clock::now()));
    }
    return !stopping;
}

bool ScriptedServer::Impl::waitPeerClose(int fd, Millis limit)
{
    const auto deadline = Clock::now() + limit;
    while (!stopping && Clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 50) <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return true;
    }
    return false;
}

void ScriptedServer::Impl::record(size_t index, const std::string& head)
{
    {
        std::lock_guard lock(mutex);
        heads.push_back(head);
        headsPerConnection[index].push_back(head);
    }
    changed.notify_all();
}

} // namespace vornel::test
