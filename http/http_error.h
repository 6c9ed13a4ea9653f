#pragma once
// Failures of the HTTP client. Every failure carries a kind (whose name callers and tools
// print, e.g. "EIdSocketError") and a message text.
#include "http/failure_kind.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace vornel::http {

class HttpError : public std::runtime_error {
public:
    HttpError(FailureKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    FailureKind kind() const { return kind_; }
    std::string_view kindName() const { return http::kindName(kind_); }

private:
    FailureKind kind_;
};

// "Socket Error # %d\r\n%s" with the platform error number and its text.
class SocketError : public HttpError {
public:
    explicit SocketError(int errorNumber);
    int errorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

// A reply with an error status on a client that treats it as a failure. The message is
// the status line with its control characters (NUL included) shown as U+FFFD.
class ProtocolError : public HttpError {
public:
    ProtocolError(const std::string& responseText, int statusCode, std::string bodyText);
    int statusCode() const { return statusCode_; }
    const std::string& bodyText() const { return bodyText_; }

private:
    int statusCode_;
    std::string bodyText_;
};

// Text from a server made fit for a message: every control character becomes U+FFFD.
std::string visibleText(const std::string& text);

// The text of a socket error number (10061 -> "Connection refused."), empty when unknown.
std::string socketErrorText(int errorNumber);
// Maps a POSIX errno onto the socket error numbers above (ECONNREFUSED -> 10061, ...).
int socketErrorFromErrno(int err);

} // namespace vornel::http
