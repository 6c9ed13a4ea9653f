#pragma once
// A scripted HTTP server on 127.0.0.1 for wire tests. It listens on an ephemeral port on
// its own thread and serves each accepted connection (on a thread of its own) either with
// the next queued ConnectionScript, or, when no script is queued, with the routes: every
// request on the connection gets the route's body for its path (404 when none matches),
// keep-alive, until the peer closes.
//
//   ScriptedServer server;
//   server.addConnection(ConnectionScript().expectHead().send(ScriptedServer::ok200("hi")));
//   client.GetToStream(server.url("/a"), stream);
//   EXPECT_EQ(server.requestHeads()[0], "GET /a HTTP/1.1\r\n...");
//
// Every wait inside the server is bounded, and the destructor ends every connection.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vornel::test {

using Millis = std::chrono::milliseconds;

// The steps played on one connection, in order. When the steps run out the connection is
// closed normally.
class ConnectionScript {
public:
    // Reads the request head up to and including the blank line and records it. Ends the
    // script when the peer closes (or nothing complete arrives within 10 s).
    ConnectionScript& expectHead();
    ConnectionScript& send(std::string bytes);
    // Sends bytes in pieces of pieceSize with a pause before each piece after the first.
    ConnectionScript& drip(std::string bytes, size_t pieceSize, Millis pause);
    ConnectionScript& wait(Millis duration);
    // Waits until ready() holds (asked every few milliseconds), at most `limit`: lets a test
    // say when the rest of a reply may come.
    ConnectionScript& waitFor(std::function<bool()> ready, Millis limit = Millis(10000));
    // Reads and discards until the peer closes (at most `limit`); records whether it did.
    ConnectionScript& expectPeerClose(Millis limit = Millis(5000));
    ConnectionScript& close();
    // Closes with SO_LINGER 0, so the peer sees a connection reset.
    ConnectionScript& reset();
    // expectHead() followed by send(ScriptedServer::ok200(body)).
    ConnectionScript& reply200(std::string body);

    struct Step {
        enum class Kind { ExpectHead, Send, Wait, WaitFor, ExpectPeerClose, Close, Reset } kind;
        std::string bytes;
        size_t pieceSize = 0;
        Millis pause{0};
        std::function<bool()> ready = {};
    };
    const std::vector<Step>& steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

// A body served for a request path in route mode.
struct Route {
    std::string body;
    std::string contentType = "application/octet-stream";
    int status = 200;                        // the status line reads "HTTP/1.1 <status> <reason>"
    std::vector<std::string> extraHeaders{}; // lines without CRLF
    bool lengthFramed = true;                // false: no Content-Length, close after the body
    size_t dripSize = 0;                     // >0: send the body in pieces of this size ...
    Millis dripPause{0};                     // ... with this pause between them

    static Route fromFile(const std::string& filePath, std::string contentType = "audio/mpeg");
};

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t port() const;
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path = "/") const;

    void addConnection(ConnectionScript script);
    // Route mode; the path is matched against the request target with and without its query.
    void addRoute(const std::string& path, Route route);

    // Every request head received, in arrival order, each ending in "\r\n\r\n".
    std::vector<std::string> requestHeads() const;
    // Request heads grouped by connection, in accept order.
    std::vector<std::vector<std::string>> headsByConnection() const;
    size_t connectionCount() const;
    // Per connection that ran expectPeerClose: whether the peer closed in time.
    std::vector<bool> peerClosed() const;
    // Waits (bounded) until at least n connections have ended; false on time-out.
    bool waitForFinishedConnections(size_t n, Millis limit = Millis(10000)) const;

    // "HTTP/1.1 200 OK" with Content-Type, Content-Length and the body.
    static std::string ok200(const std::string& body, const std::string& contentType = "text/html");

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

} // namespace vornel::test
