#pragma once
// Turns an OpenSSL result into the HttpError that the transport raises.
#include "http/failure_kind.h"

#include <openssl/ssl.h>

#include <string>

namespace vornel::http {

// The library's text for an error code, cut to 160 characters.
std::string tlsErrorString(unsigned long code);

// Builds the failure for operation message `message` (the failure kind `kind` where the
// library's own error is not a crypto error) from the result `result` of an SSL call.
// Never returns.
[[noreturn]] void throwTlsFailure(FailureKind kind, const std::string& message, const SSL* ssl, int result,
                                  int savedErrno);

// True when the first queued library error says the peer closed the socket without a
// TLS close_notify (older OpenSSL releases reported that as a bare EOF).
bool queuedErrorIsUnexpectedEof();

} // namespace vornel::http
