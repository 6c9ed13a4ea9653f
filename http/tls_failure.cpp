#include "http/tls_failure.h"

#include "http/http_error.h"
#include "http/tls_library.h"

namespace vornel::http {

namespace {

constexpr size_t kMaxErrorText = 160;
const char* const kEofText = "EOF was observed that violates the protocol";

std::string withDetail(const std::string& message, const std::string& detail)
{
    return message.empty() ? detail : message + "\r\n" + detail;
}

} // namespace

std::string tlsErrorString(unsigned long code)
{
    char text[kMaxErrorText + 1] = {};
    tlsApi().ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool queuedErrorIsUnexpectedEof()
{
    const unsigned long first = tlsApi().ERR_peek_error();
    return first != 0 && ERR_GET_LIB(first) == ERR_LIB_SSL &&
           ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

void throwTlsFailure(FailureKind kind, const std::string& message, const SSL* ssl, int result, int savedErrno)
{
    const int code = tlsApi().SSL_get_error(ssl, result);
    if (queuedErrorIsUnexpectedEof()) {
        tlsApi().ERR_clear_error();
        throw HttpError(kind, withDetail(message, kEofText));
    }
    if (code == SSL_ERROR_SSL || (code == SSL_ERROR_SYSCALL && tlsApi().ERR_peek_error() != 0)) {
        const unsigned long first = tlsApi().ERR_get_error();
        tlsApi().ERR_clear_error();
        throw HttpError(FailureKind::OSSLUnderlyingCryptoError, withDetail(message, tlsErrorString(first)));
    }
    if (code == SSL_ERROR_SYSCALL) {
        if (result == 0 || savedErrno == 0)
            throw HttpError(kind, withDetail(message, kEofText));
        throw SocketError(socketErrorFromErrno(savedErrno));
    }
    throw HttpError(kind, withDetail(message, tlsErrorString(static_cast<unsigned long>(code))));
}

} // namespace vornel::http
