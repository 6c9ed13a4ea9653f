// The TLS client session against an in-process OpenSSL server on 127.0.0.1.
#include "http/http_error.h"
#include "http/tls_session.h"
#include "tests/http/request_failure.h"
#include "tls_test_server.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using namespace vornel::http;
using vornel::test::failureOf;
using vornel::test::RequestFailure;
using vornel::test::TlsServerOptions;
using vornel::test::TlsTestServer;

namespace {

const std::string kReply = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";

// A connected socket that closes itself.
class Socket {
public:
    explicit Socket(uint16_t port) : fd_(vornel::test::connectLoopback(port)) {}
    ~Socket()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Answers one HTTP-like request, then closes the session cleanly.
void answerRequest(SSL* ssl, int)
{
    if (vornel::test::readRequestHead(ssl).rfind("GET / HTTP/1.1\r\n", 0) == 0)
        vornel::test::writeAll(ssl, kReply);
    SSL_shutdown(ssl);
}

std::string readToEnd(TlsSession& session)
{
    std::string received;
    char buffer[256];
    while (size_t n = session.read(buffer, sizeof buffer))
        received.append(buffer, n);
    return received;
}

std::string exchange(uint16_t port, const std::string& serverName)
{
    Socket socket(port);
    EXPECT_GE(socket.fd(), 0);
    TlsSession session(socket.fd(), serverName);
    session.handshake();
    const std::string request = "GET / HTTP/1.1\r\nHost: " + serverName + "\r\n\r\n";
    session.write(request.data(), request.size());
    return readToEnd(session);
}

// The failure the handshake raised against that server.
RequestFailure handshakeFailure(uint16_t port, std::chrono::milliseconds ioLimit = TlsSession::kSocketTimeout)
{
    Socket socket(port);
    return failureOf([&] {
        TlsSession session(socket.fd(), "vornel.test", ioLimit);
        session.handshake();
    });
}

} // namespace

TEST(TlsSession, ExchangesARequestWithASelfSignedServer)
{
    TlsTestServer server(answerRequest);
    EXPECT_EQ(exchange(server.port(), "vornel.test"), kReply);
    EXPECT_EQ(server.handshakeFailures(), 0);
}

struct VersionCase {
    const char* label;
    int serverMin;
    int serverMax;
    int expected;
};

class TlsVersions : public testing::TestWithParam<VersionCase> {};

TEST_P(TlsVersions, NegotiatesWhatTheServerOffers)
{
    const VersionCase& c = GetParam();
    TlsTestServer server(answerRequest, TlsServerOptions{c.serverMin, c.serverMax});
    EXPECT_EQ(exchange(server.port(), "vornel.test"), kReply);
    EXPECT_EQ(server.negotiatedVersions(), std::vector<int>{c.expected});
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsVersions,
                         testing::Values(VersionCase{"Tls10Only", TLS1_VERSION, TLS1_VERSION, TLS1_VERSION},
                                         VersionCase{"Tls12AndLater", TLS1_2_VERSION, 0, TLS1_3_VERSION},
                                         VersionCase{"Tls12Only", TLS1_2_VERSION, TLS1_2_VERSION, TLS1_2_VERSION},
                                         VersionCase{"Tls13Only", TLS1_3_VERSION, TLS1_3_VERSION, TLS1_3_VERSION}),
                         [](const testing::TestParamInfo<VersionCase>& test) { return std::string(test.param.label); });

class TlsServerName : public testing::TestWithParam<std::string> {};

TEST_P(TlsServerName, IsSentAsGiven)
{
    TlsTestServer server(answerRequest);
    EXPECT_EQ(exchange(server.port(), GetParam()), kReply);
    EXPECT_EQ(server.serverNames(), std::vector<std::string>{GetParam()});
}

INSTANTIATE_TEST_SUITE_P(NameAndAddress, TlsServerName, testing::Values("vornel.test", "127.0.0.1"));

TEST(TlsSession, PeerClosingDuringTheHandshakeIsAnEofFailure)
{
    // With the ClientHello read, the close is a clean FIN.
    TlsTestServer server([](int fd) { vornel::test::readClientHello(fd); });
    const RequestFailure failure = handshakeFailure(server.port());
    EXPECT_EQ(failure.kind, "EIdOSSLConnectError");
    EXPECT_EQ(failure.message, "Error connecting with SSL.\r\nEOF was observed that violates the protocol");
}

TEST(TlsSession, PeerResettingDuringTheHandshakeIsASocketError)
{
    TlsTestServer server([](int fd) {
        vornel::test::readClientHello(fd);
        vornel::test::resetConnection(fd);
    });
    const RequestFailure failure = handshakeFailure(server.port());
    EXPECT_EQ(failure.kind, "EIdSocketError");
    EXPECT_EQ(failure.message, "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(TlsSession, SilentServerDuringTheHandshakeTimesOut)
{
    TlsTestServer server([](int fd) {
        vornel::test::readClientHello(fd);
        char sink[256];
        recv(fd, sink, sizeof sink, 0); // until the client gives up
    });
    const RequestFailure failure = handshakeFailure(server.port(), std::chrono::milliseconds{200});
    EXPECT_EQ(failure.kind, "EIdReadTimeout");
    EXPECT_EQ(failure.message, "Read timed out.");
}

TEST(TlsSession, SilentServerAfterTheHandshakeTimesTheReadOut)
{
    TlsTestServer server([](SSL* ssl, int) {
        char byte = 0;
        SSL_read(ssl, &byte, 1); // until the client gives up
    });
    Socket socket(server.port());
    TlsSession session(socket.fd(), "vornel.test", std::chrono::milliseconds{200});
    session.handshake();
    char buffer[64];
    try {
        session.read(buffer, sizeof buffer);
        FAIL() << "the read returned";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdReadTimeout");
        EXPECT_STREQ(error.what(), "Read timed out.");
    }
}

TEST(TlsSession, AServerSpeakingPlainHttpIsACryptoFailure)
{
    TlsTestServer server([](int fd) {
        const std::string reply = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
        send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        char sink[4096];
        recv(fd, sink, sizeof sink, 0);
    });
    const RequestFailure failure = handshakeFailure(server.port());
    EXPECT_EQ(failure.kind, "EIdOSSLUnderlyingCryptoError");
    const std::string& message = failure.message;
    const std::string prefix = "Error connecting with SSL.\r\nerror:";
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_NE(message.find("wrong version number"), std::string::npos) << message;
    EXPECT_LE(message.size(), std::string("Error connecting with SSL.\r\n").size() + 160);
}

TEST(TlsSession, ReportsDecryptedBytesWaitingInTheSession)
{
    const std::string payload(100, 'p');
    TlsTestServer server([&](SSL* ssl, int) {
        vornel::test::writeAll(ssl, payload);
        SSL_shutdown(ssl);
    });
    Socket socket(server.port());
    TlsSession session(socket.fd(), "vornel.test");
    session.handshake();
    EXPECT_FALSE(session.hasPending());
    char first[10];
    std::string received;
    while (received.size() < sizeof first) // a TLS 1.3 ticket may come before the data
        received.append(first, session.read(first, sizeof first - received.size()));
    EXPECT_TRUE(session.hasPending());
    received += readToEnd(session);
    EXPECT_EQ(received, payload);
    EXPECT_FALSE(session.hasPending());
}

TEST(TlsSession, PeerClosingWithoutCloseNotifyEndsTheRead)
{
    TlsTestServer server([](SSL* ssl, int fd) {
        vornel::test::writeAll(ssl, "partial");
        shutdown(fd, SHUT_WR); // no close_notify
        char sink[256];
        recv(fd, sink, sizeof sink, 0);
    });
    Socket socket(server.port());
    TlsSession session(socket.fd(), "vornel.test");
    session.handshake();
    EXPECT_EQ(readToEnd(session), "partial");
}

TEST(TlsSession, ConnectionResetWhileReadingIsASocketError)
{
    TlsTestServer server([](SSL* ssl, int fd) {
        char byte = 0;
        SSL_read(ssl, &byte, 1); // wait for the client's go-ahead
        vornel::test::resetConnection(fd);
    });
    Socket socket(server.port());
    TlsSession session(socket.fd(), "vornel.test");
    session.handshake();
    session.write("x", 1);
    char buffer[64];
    try {
        while (session.read(buffer, sizeof buffer) > 0) {}
        FAIL() << "the reset was taken for a clean close";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.errorNumber(), 10054);
        EXPECT_STREQ(error.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST(TlsSession, WritingToAPeerThatHasGoneFailsWithoutKillingTheProcess)
{
    TlsTestServer server([](SSL*, int fd) { vornel::test::resetConnection(fd); });
    Socket socket(server.port());
    TlsSession session(socket.fd(), "vornel.test");
    session.handshake();
    usleep(100 * 1000); // let the reset arrive
    const std::string chunk(16384, 'w');
    try {
        for (int i = 0; i < 64; ++i)
            session.write(chunk.data(), chunk.size());
        FAIL() << "writes to a reset connection succeeded";
    } catch (const SocketError& error) {
        EXPECT_TRUE(error.errorNumber() == 10054 || error.errorNumber() == 10058) << error.what();
    }
}

struct FolderCase {
    std::string given;
    std::string stored;
};

std::ostream& operator<<(std::ostream& out, const FolderCase& c)
{
    return out << '"' << c.given << '"';
}

class TlsLibraryFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(TlsLibraryFolder, IsStoredWithATrailingSlash)
{
    setTlsLibraryFolder("/previous");
    setTlsLibraryFolder(GetParam().given);
    EXPECT_EQ(tlsLibraryFolder(), GetParam().stored);
    setTlsLibraryFolder("");
}

INSTANTIATE_TEST_SUITE_P(Settings, TlsLibraryFolder,
                         testing::Values(FolderCase{"/opt/vornel", "/opt/vornel/"},
                                         FolderCase{"/opt/vornel/", "/opt/vornel/"}, FolderCase{"", ""}));

TEST(TlsLibraryFolder, DoesNotAffectConnections)
{
    setTlsLibraryFolder("/nonexistent/folder");
    TlsTestServer server(answerRequest);
    EXPECT_EQ(exchange(server.port(), "vornel.test"), kReply);
    setTlsLibraryFolder("");
}
