#pragma once
// A TLS server on 127.0.0.1 for the tests: its own OpenSSL context with a self-signed
// certificate made at start, one thread serving connections one after another.
#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vornel::test {

struct TlsServerOptions {
    int minVersion = TLS1_VERSION; // protocol versions the server accepts (0: library bound)
    int maxVersion = 0;
    bool tls = true; // false: the handler gets the raw socket, no handshake
};

class TlsTestServer {
public:
    using SessionHandler = std::function<void(SSL*, int fd)>; // after a completed handshake
    using RawHandler = std::function<void(int fd)>;

    TlsTestServer(SessionHandler handler, TlsServerOptions options = {});
    TlsTestServer(RawHandler handler); // serves plain sockets (options.tls = false)
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    uint16_t port() const { return port_; }
    // What the handshakes received, in connection order.
    std::vector<std::string> serverNames() const;
    std::vector<int> negotiatedVersions() const;
    int handshakeFailures() const { return handshakeFailures_.load(); }

private:
    void start();
    void serve();
    void serveOne(int fd);

    SessionHandler sessionHandler_;
    RawHandler rawHandler_;
    TlsServerOptions options_;
    SSL_CTX* context_ = nullptr;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> handshakeFailures_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> serverNames_;
    std::vector<int> versions_;
    std::thread thread_;
};

// Connects a blocking TCP socket to 127.0.0.1:port; -1 on failure.
int connectLoopback(uint16_t port);
// Reads from a TLS session until the end of an HTTP request head ("\r\n\r\n").
std::string readRequestHead(SSL* ssl);
// Reads one whole TLS record (the ClientHello) off a raw socket, so that a close after it
// reaches the peer as a clean end of stream.
void readClientHello(int fd);
// Makes the coming close reach the peer as a connection reset.
void resetConnection(int fd);
// Writes all bytes over the session.
void writeAll(SSL* ssl, const std::string& data);

} // namespace vornel::test
