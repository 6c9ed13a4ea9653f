// The read bound on TLS connections: a server that sends part of a record and stalls.
#include "http/http_client.h"
#include "http/idle_pump.h"
#include "http/transport.h"
#include "tls_test_server.h"

#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <sys/socket.h>

#include <string>

using namespace vornel::http;
using vornel::test::TlsTestServer;

namespace {

// The encrypted bytes of `plain` as the session would send them, written into memory.
std::string recordBytes(SSL* ssl, const std::string& plain)
{
    BIO* memory = BIO_new(BIO_s_mem());
    SSL_set0_wbio(ssl, memory);
    SSL_write(ssl, plain.data(), static_cast<int>(plain.size()));
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory, &data);
    return std::string(data, static_cast<size_t>(size));
}

// Sends `sentPart` of the reply's record bytes straight to the socket, then waits until
// the client goes away.
TlsTestServer stallingServer(double sentPart)
{
    return TlsTestServer([sentPart](SSL* ssl, int fd) {
        vornel::test::readRequestHead(ssl);
        const std::string record = recordBytes(ssl, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789");
        const size_t part = static_cast<size_t>(static_cast<double>(record.size()) * sentPart);
        ::send(fd, record.data(), part, MSG_NOSIGNAL);
        char sink[256];
        while (::recv(fd, sink, sizeof sink, 0) > 0) {}
    });
}

TEST(TlsReadBound, ARecordThatStallsPartWayTimesOutWhileThePumpRuns)
{
    TlsTestServer server = stallingServer(0.5);
    ClientSettings settings = ClientSettings::configured();
    settings.readTimeoutMs = 500;
    HttpClient client(settings, std::make_shared<Transport>());
    int pumped = 0;
    IdlePump pump([&] { ++pumped; }, [] { return true; });
    pump.idleTimeoutMs = 50;
    try {
        client.GetAsText("https://127.0.0.1:" + std::to_string(server.port()) + "/");
        FAIL() << "the request returned";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdReadTimeout");
        EXPECT_STREQ(error.what(), "Read timed out.");
    }
    EXPECT_GE(pumped, 3);
}

TEST(TlsReadBound, AServerSilentAfterTheHandshakeTimesOut)
{
    TlsTestServer server = stallingServer(0.0);
    ClientSettings settings = ClientSettings::runtime();
    settings.readTimeoutMs = 300;
    HttpClient client(settings);
    try {
        client.GetAsText("https://127.0.0.1:" + std::to_string(server.port()) + "/");
        FAIL() << "the request returned";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdReadTimeout");
    }
}

} // namespace
