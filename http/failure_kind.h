#pragma once
// The kinds of failure of the HTTP client. The enum is what the code compares; each kind's
// name (e.g. "EIdReadTimeout") is the text that callers and tools show, kept in one table.
#include <string_view>

namespace vornel::http {

enum class FailureKind {
    Exception,                   // misuse of the library, e.g. a second idle pump
    ClientBusy,                  // a request on a client that is busy with another one
    UnknownProtocol,             // a URL that is neither http nor https
    IOHandlerPropInvalid,        // https on a client that may not use TLS
    RequestAborted,              // the request was aborted
    ConnectException,            // the connection could not be made on this socket
    ConnectTimeout,              // the connection was not made within the connect time-out
    SocketError,                 // a socket call failed (see SocketError)
    ReadTimeout,                 // nothing arrived in time, or the request outlived its bound
    ConnClosedGracefully,        // the server closed the connection before the reply was whole
    ReadLnMaxLineLengthExceeded, // a line of the reply longer than the line limit
    HeaderBlockTooLarge,         // a reply head (or trailer) beyond its bound
    ChunkSizeTooLarge,           // a chunk size beyond a signed 64-bit count
    BodyTooLarge,                // a body beyond its bound
    HTTPProtocolException,       // an error status (see ProtocolError)
    OSSLCouldNotLoadSSLLibrary,  // the TLS library could not be loaded
    OSSLGetMethodError,          // setting up TLS failed, step by step:
    OSSLCreatingContextError,
    OSSLSettingCipherError,
    OSSLCreatingSessionError,
    OSSLDataBindingError,
    OSSLFDSetError,
    OSSLConnectError,          // the TLS handshake failed
    OSSLUnderlyingCryptoError, // the TLS library reported an error of its own
    OpenSSLAPISSLError,        // a TLS read or write failed
};

// The kind's name, e.g. "EIdReadTimeout" for FailureKind::ReadTimeout.
std::string_view kindName(FailureKind kind);

} // namespace vornel::http
