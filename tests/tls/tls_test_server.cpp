#include "tls_test_server.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vornel::test {

namespace {

constexpr int kIoLimitSeconds = 10;

struct Credentials {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

// A P-256 key and a certificate for CN=vornel.test signed by itself, made once.
const Credentials& selfSignedCredentials()
{
    static const Credentials made = [] {
        Credentials c;
        c.key = EVP_EC_gen("P-256");
        c.certificate = X509_new();
        X509_set_version(c.certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(c.certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(c.certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(c.certificate), 3600);
        X509_set_pubkey(c.certificate, c.key);
        X509_NAME* name = X509_get_subject_name(c.certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("vornel.test"), -1,
                                   -1, 0);
        X509_set_issuer_name(c.certificate, name);
        X509_sign(c.certificate, c.key, EVP_sha256());
        return c;
    }();
    return made;
}

void setIoLimit(int fd)
{
    timeval limit{};
    limit.tv_sec = kIoLimitSeconds;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

} // namespace

TlsTestServer::TlsTestServer(SessionHandler handler, TlsServerOptions options)
    : sessionHandler_(std::move(handler)), options_(options)
{
    start();
}

TlsTestServer::TlsTestServer(RawHandler handler) : rawHandler_(std::move(handler))
{
    options_.tls = false;
    start();
}

void TlsTestServer::start()
{
    if (options_.tls) {
        const Credentials& credentials = selfSignedCredentials();
        context_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_security_level(context_, 0);
        SSL_CTX_set_min_proto_version(context_, options_.minVersion);
        SSL_CTX_set_max_proto_version(context_, options_.maxVersion);
        SSL_CTX_set_cipher_list(context_, "ALL:@SECLEVEL=0");
        SSL_CTX_use_certificate(context_, credentials.certificate);
        SSL_CTX_use_PrivateKey(context_, credentials.key);
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("test server cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

TlsTestServer::~TlsTestServer()
{
    stopping_ = true;
    thread_.join();
    close(listenFd_);
    if (context_)
        SSL_CTX_free(context_);
}

std::vector<std::string> TlsTestServer::serverNames() const
{
    std::lock_guard guard(mutex_);
    return serverNames_;
}

std::vector<int> TlsTestServer::negotiatedVersions() const
{
    std::lock_guard guard(mutex_);
    return versions_;
}

void TlsTestServer::serve()
{
    // A client that goes away must not end the test process with SIGPIPE.
    sigset_t sigpipe;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
    while (!stopping_) {
        pollfd waiting{listenFd_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0)
            continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        setIoLimit(fd);
        serveOne(fd);
        close(fd);
    }
}

void TlsTestServer::serveOne(int fd)
{
    if (!options_.tls) {
        rawHandler_(fd);
        return;
    }
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        {
            std::lock_guard guard(mutex_);
            const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
            serverNames_.push_back(name ? name : "");
            versions_.push_back(SSL_version(ssl));
        }
        sessionHandler_(ssl, fd);
    } else {
        ++handshakeFailures_;
    }
    SSL_free(ssl);
}

int connectLoopback(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readRequestHead(SSL* ssl)
{
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1)
        head += c;
    return head;
}

void readClientHello(int fd)
{
    unsigned char header[5];
    if (recv(fd, header, sizeof header, MSG_WAITALL) != 5)
        return;
    std::string body((header[3] << 8) | header[4], '\0');
    recv(fd, body.data(), body.size(), MSG_WAITALL);
}

void resetConnection(int fd)
{
    linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void writeAll(SSL* ssl, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const int n = SSL_write(ssl, data.data() + done, static_cast<int>(data.size() - done));
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

} // namespace vornel::test
