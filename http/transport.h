#pragma once
// The connection under an HTTP client: a TCP socket that carries plain data or, for
// https, a TLS session. A TLS-capable transport carries both, so one object can serve
// every request of a client whatever the URL's protocol.
#include "http/request_deadline.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vornel::http {

class TlsSession;

class Transport {
public:
    explicit Transport(bool tlsCapable = true);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    bool canDoTls() const { return tlsCapable_; }

    // Connects, then for tls performs the handshake with host as server name. The connect
    // wait ends with "Read timed out." when the deadline passes first.
    void connect(const std::string& host, const std::string& port, bool ipv6, bool tls,
                 const std::atomic<bool>& aborted, const RequestDeadline& deadline = RequestDeadline());
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool isTls() const { return tls_ != nullptr; }
    const std::string& host() const { return host_; }
    const std::string& port() const { return port_; }

    // Waits at most timeoutMs until bytes are there (for TLS they may be only part of a
    // record, so readIfReady can still find no data); true when something arrived.
    bool waitReadable(int timeoutMs);
    // Bytes read, 0 when the peer closed the connection. Throws on failure.
    size_t read(char* buffer, size_t size);
    // As read, but nullopt instead of waiting when no data has arrived yet.
    std::optional<size_t> readIfReady(char* buffer, size_t size);
    void write(const std::string& bytes);
    // For a connection left open between requests: false when the peer closed it or sent
    // something nobody asked for (it cannot carry the next request then).
    bool idleAndUsable();

    // Thread-safe: shuts the socket down so that a blocked wait or read returns.
    void abort();

private:
    bool tlsCapable_;
    std::atomic<int> fd_{-1};
    std::mutex fdMutex_; // keeps abort() from shutting down a number that close() released
    std::unique_ptr<TlsSession> tls_;
    std::string host_;
    std::string port_;
};

} // namespace vornel::http
