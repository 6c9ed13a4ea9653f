#pragma once
// A TLS client session over a connected TCP socket (OpenSSL). The HTTP transport uses it
// for https; plain http never touches it.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace vornel::http {

// The folder the TLS library is loaded from when it holds it (see tls_library.h): a non-empty
// folder gets a trailing "/", "" clears it. It takes effect at the next load attempt.
void setTlsLibraryFolder(const std::string& folder);
std::string tlsLibraryFolder();

class TlsSession {
public:
    static constexpr std::chrono::milliseconds kSocketTimeout{30000};

    // Prepares context and session for the socket; serverName is sent as SNI (also when
    // it is an address). Throws HttpError with the TLS failure kinds and messages.
    // The socket's receive and send time-outs are set to ioLimit at the handshake; a
    // receive that runs out of it fails with "Read timed out.".
    TlsSession(int socketFd, const std::string& serverName, std::chrono::milliseconds ioLimit = kSocketTimeout);
    ~TlsSession(); // one shutdown call, then frees session and context
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    void handshake();
    // Bytes read, 0 when the peer closed the connection. Throws on failure.
    size_t read(char* buffer, size_t size);
    void write(const char* data, size_t size);
    // As read, but without blocking: nullopt when no whole record of data is there yet
    // (nothing arrived, only part of a record, or only protocol records such as tickets).
    std::optional<size_t> readIfReady(char* buffer, size_t size);
    // Decrypted bytes waiting in the session (they count as readable).
    bool hasPending() const;

private:
    std::optional<size_t> readOnce(char* buffer, size_t size, bool blocking);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vornel::http
