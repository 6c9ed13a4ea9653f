#include "http/tls_session.h"

#include "http/http_error.h"
#include "http/tls_failure.h"
#include "http/tls_library.h"
#include "http/tls_sigpipe_guard.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vornel::http {

namespace {

const char* const kCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

// The result of one library call and the errno it left behind.
struct CallResult {
    int result;
    int savedErrno;
};

template <typename Call>
CallResult callLibrary(Call call)
{
    SigpipeGuard guard;
    tlsApi().ERR_clear_error();
    errno = 0;
    const int result = call();
    return {result, errno};
}

bool wantsRetry(int code)
{
    return code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE;
}

bool socketTimedOut(int savedErrno)
{
    return savedErrno == EAGAIN || savedErrno == EWOULDBLOCK;
}

[[noreturn]] void throwReadTimeout()
{
    throw HttpError(FailureKind::ReadTimeout, "Read timed out.");
}

std::string firstQueuedErrorOr(unsigned long fallback)
{
    const unsigned long first = tlsApi().ERR_get_error();
    tlsApi().ERR_clear_error();
    return tlsErrorString(first != 0 ? first : fallback);
}

// The error check of a failed read or write: socket errors that mean the connection is
// gone are raised as socket errors, everything else as a TLS API failure.
[[noreturn]] void throwIoFailure(int code, int savedErrno)
{
    if (code == SSL_ERROR_SYSCALL && tlsApi().ERR_peek_error() == 0) {
        const int number = socketErrorFromErrno(savedErrno);
        if (number == 10053 || number == 10054 || number == 10058)
            throw SocketError(number);
        const std::string text = socketErrorText(number);
        throw HttpError(FailureKind::OpenSSLAPISSLError,
                        text.empty() ? tlsErrorString(static_cast<unsigned long>(code)) : text);
    }
    throw HttpError(FailureKind::OpenSSLAPISSLError, firstQueuedErrorOr(static_cast<unsigned long>(code)));
}

SSL_CTX* makeClientContext()
{
    const SSL_METHOD* method = tlsApi().TLS_client_method();
    if (!method)
        throw HttpError(FailureKind::OSSLGetMethodError, "Error getting SSL method.");
    tlsApi().ERR_clear_error();
    SSL_CTX* context = tlsApi().SSL_CTX_new(method);
    if (!context) {
        const unsigned long first = tlsApi().ERR_get_error();
        tlsApi().ERR_clear_error();
        std::string message = "Error creating SSL context.";
        if (first != 0)
            message += "\r\n" + tlsErrorString(first);
        throw HttpError(FailureKind::OSSLCreatingContextError, message);
    }
    return context;
}

// TLS 1.0 up to the newest version the library offers: servers of today refuse TLS 1.0,
// and the old cipher list only takes effect at security level 0.
bool configureContext(SSL_CTX* context)
{
    const TlsApi& api = tlsApi();
    api.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_VERSION, nullptr);
    api.SSL_CTX_ctrl(context, SSL_CTRL_SET_MAX_PROTO_VERSION, 0, nullptr);
    api.SSL_CTX_set_options(context, SSL_OP_NO_SSLv2 | SSL_OP_NO_SSLv3);
    api.SSL_CTX_ctrl(context, SSL_CTRL_MODE, SSL_MODE_AUTO_RETRY, nullptr);
    api.SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    api.SSL_CTX_set_security_level(context, 0);
    return api.SSL_CTX_set_cipher_list(context, kCipherList) == 1;
}

void setSocketTimeouts(int fd, std::chrono::milliseconds ioLimit)
{
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(ioLimit.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>(ioLimit.count() % 1000 * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

} // namespace

struct TlsSession::Impl {
    int fd = -1;
    std::chrono::milliseconds ioLimit{};
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    bool established = false;
    bool broken = false; // a fatal error happened: no shutdown may be sent

    ~Impl()
    {
        if (ssl) {
            if (established && !broken)
                callLibrary([this] { return tlsApi().SSL_shutdown(ssl); });
            tlsApi().SSL_free(ssl);
        }
        if (context)
            tlsApi().SSL_CTX_free(context);
    }

    [[noreturn]] void fail(FailureKind kind, const std::string& message, CallResult call)
    {
        broken = true;
        throwTlsFailure(kind, message, ssl, call.result, call.savedErrno);
    }
};

TlsSession::TlsSession(int socketFd, const std::string& serverName, std::chrono::milliseconds ioLimit)
    : impl_(std::make_unique<Impl>())
{
    impl_->fd = socketFd;
    impl_->ioLimit = ioLimit.count() > 0 ? ioLimit : kSocketTimeout;
    ensureTlsLibrary();
    impl_->context = makeClientContext();
    if (!configureContext(impl_->context)) {
        tlsApi().ERR_clear_error();
        throw HttpError(FailureKind::OSSLSettingCipherError, "SetCipher failed.");
    }
    tlsApi().ERR_clear_error();
    impl_->ssl = tlsApi().SSL_new(impl_->context);
    if (!impl_->ssl) {
        tlsApi().ERR_clear_error();
        throw HttpError(FailureKind::OSSLCreatingSessionError, "Error creating SSL session.");
    }
    CallResult bound = callLibrary([this] { return tlsApi().SSL_set_ex_data(impl_->ssl, 0, this); });
    if (bound.result <= 0)
        impl_->fail(FailureKind::OSSLDataBindingError, "Error binding data to SSL socket.", bound);
    CallResult attached = callLibrary([this] { return tlsApi().SSL_set_fd(impl_->ssl, impl_->fd); });
    if (attached.result <= 0)
        impl_->fail(FailureKind::OSSLFDSetError, "Error setting File Descriptor for SSL", attached);
    if (!serverName.empty())
        tlsApi().SSL_ctrl(impl_->ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char*>(serverName.c_str()));
    tlsApi().ERR_clear_error();
}

TlsSession::~TlsSession() = default;

void TlsSession::handshake()
{
    setSocketTimeouts(impl_->fd, impl_->ioLimit);
    for (;;) {
        const CallResult call = callLibrary([this] { return tlsApi().SSL_connect(impl_->ssl); });
        if (call.result >= 1) {
            impl_->established = true;
            return;
        }
        const int code = tlsApi().SSL_get_error(impl_->ssl, call.result);
        if (wantsRetry(code)) {
            if (!socketTimedOut(call.savedErrno))
                continue;
            impl_->broken = true;
            throwReadTimeout();
        }
        impl_->fail(FailureKind::OSSLConnectError, "Error connecting with SSL.", call);
    }
}

size_t TlsSession::read(char* buffer, size_t size)
{
    return *readOnce(buffer, size, true);
}

std::optional<size_t> TlsSession::readIfReady(char* buffer, size_t size)
{
    if (!impl_->ssl)
        return std::nullopt;
    // The socket stays blocking for writes and the handshake; only this read must not wait.
    const int flags = ::fcntl(impl_->fd, F_GETFL);
    ::fcntl(impl_->fd, F_SETFL, flags | O_NONBLOCK);
    try {
        const std::optional<size_t> got = readOnce(buffer, size, false);
        ::fcntl(impl_->fd, F_SETFL, flags);
        return got;
    } catch (...) {
        ::fcntl(impl_->fd, F_SETFL, flags);
        throw;
    }
}

// Blocking: waits (up to the socket's time-out) for data. Non-blocking: nullopt when the
// library wants more bytes than have arrived.
std::optional<size_t> TlsSession::readOnce(char* buffer, size_t size, bool blocking)
{
    const int wanted = static_cast<int>(std::min<size_t>(size, INT_MAX));
    for (;;) {
        const CallResult call = callLibrary([&] { return tlsApi().SSL_read(impl_->ssl, buffer, wanted); });
        if (call.result > 0)
            return static_cast<size_t>(call.result);
        const int code = tlsApi().SSL_get_error(impl_->ssl, call.result);
        if (wantsRetry(code)) {
            if (!blocking) {
                tlsApi().ERR_clear_error();
                return std::nullopt;
            }
            if (!socketTimedOut(call.savedErrno))
                continue;
            throwReadTimeout();
        }
        if (code == SSL_ERROR_ZERO_RETURN)
            return 0;
        impl_->broken = true;
        // A peer that shuts the socket without a close_notify has closed the connection too.
        if (queuedErrorIsUnexpectedEof()) {
            tlsApi().ERR_clear_error();
            return 0;
        }
        if (code == SSL_ERROR_SYSCALL && tlsApi().ERR_peek_error() == 0 && call.savedErrno == 0)
            return 0;
        throwIoFailure(code, call.savedErrno);
    }
}

void TlsSession::write(const char* data, size_t size)
{
    while (size > 0) {
        const int piece = static_cast<int>(std::min<size_t>(size, INT_MAX));
        const CallResult call = callLibrary([&] { return tlsApi().SSL_write(impl_->ssl, data, piece); });
        if (call.result > 0) {
            data += call.result;
            size -= static_cast<size_t>(call.result);
            continue;
        }
        const int code = tlsApi().SSL_get_error(impl_->ssl, call.result);
        if (wantsRetry(code)) {
            if (!socketTimedOut(call.savedErrno))
                continue;
            impl_->broken = true;
            throw HttpError(FailureKind::OpenSSLAPISSLError, socketErrorText(10060));
        }
        impl_->broken = true;
        throwIoFailure(code, call.savedErrno);
    }
}

bool TlsSession::hasPending() const
{
    return impl_->ssl && tlsApi().SSL_pending(impl_->ssl) > 0;
}

} // namespace vornel::http
