// The HTTP client fetching https from an in-process TLS server on 127.0.0.1.
#include "http/http_client.h"
#include "http/idle_pump.h"
#include "http/transport.h"
#include "tests/support/scripted_server.h"
#include "tls_test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace vornel::http;
using vornel::test::TlsTestServer;

namespace {

// Answers each connection's request with the next reply and records the request heads.
class HttpsSite {
public:
    explicit HttpsSite(std::vector<std::string> replies)
        : replies_(std::move(replies)), server_([this](SSL* ssl, int) {
              const std::string head = vornel::test::readRequestHead(ssl);
              std::string reply;
              {
                  std::lock_guard guard(mutex_);
                  heads_.push_back(head);
                  reply = heads_.size() <= replies_.size() ? replies_[heads_.size() - 1] : "";
              }
              vornel::test::writeAll(ssl, reply);
              SSL_shutdown(ssl);
          })
    {}

    std::string url(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(server_.port()) + path;
    }
    uint16_t port() const { return server_.port(); }
    std::vector<std::string> heads() const
    {
        std::lock_guard guard(mutex_);
        return heads_;
    }
    std::vector<std::string> serverNames() const { return server_.serverNames(); }

private:
    std::vector<std::string> replies_;
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
    TlsTestServer server_;
};

std::string closingReply(const std::string& body, const std::string& extraHeaders = "")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           extraHeaders + "Connection: close\r\n\r\n" + body;
}

std::string firstLine(const std::string& head)
{
    return head.substr(0, head.find("\r\n"));
}

} // namespace

TEST(HttpsClient, GetsAPageFromASelfSignedServer)
{
    HttpsSite site({closingReply("secure page")});
    HttpClient client(ClientSettings::configured(), std::make_shared<Transport>());
    EXPECT_EQ(client.GetAsText(site.url("/")), "secure page");
    EXPECT_EQ(client.response().ResponseCode, 200);
    ASSERT_EQ(site.heads().size(), 1u);
    EXPECT_EQ(site.heads()[0].rfind("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(site.port()) + "\r\n", 0), 0u)
        << site.heads()[0];
    EXPECT_EQ(site.serverNames(), std::vector<std::string>{"127.0.0.1"});
}

TEST(HttpsClient, RunTimeClientMakesItsOwnTlsTransport)
{
    HttpsSite site({closingReply("made at run time")});
    HttpClient client;
    EXPECT_EQ(client.GetAsText(site.url("/x")), "made at run time");
}

TEST(HttpsClient, FollowsARedirectFromHttpToHttpsOnTheSameTransport)
{
    HttpsSite site({closingReply("arrived")});
    vornel::test::ScriptedServer plain;
    plain.addConnection(vornel::test::ConnectionScript().expectHead().send(
        "HTTP/1.1 302 Found\r\nLocation: " + site.url("/secure/page") + "\r\nContent-Length: 0\r\n\r\n"));
    auto transport = std::make_shared<Transport>();
    HttpClient client(ClientSettings::configured(), transport);
    EXPECT_EQ(client.GetAsText(plain.url("/start")), "arrived");
    ASSERT_EQ(plain.requestHeads().size(), 1u);
    EXPECT_EQ(firstLine(plain.requestHeads()[0]), "GET /start HTTP/1.1");
    ASSERT_EQ(site.heads().size(), 1u);
    EXPECT_EQ(firstLine(site.heads()[0]), "GET /secure/page HTTP/1.1");
}

TEST(HttpsClient, SendsASecureCookieBackOverHttps)
{
    HttpsSite site(
        {closingReply("first", "Set-Cookie: s=1; Secure\r\nSet-Cookie: t=2; Path=/\r\n"), closingReply("second")});
    HttpClient client(ClientSettings::configured(), std::make_shared<Transport>());
    client.GetAsText(site.url("/"));
    EXPECT_EQ(client.GetAsText(site.url("/next")), "second");
    ASSERT_EQ(site.heads().size(), 2u);
    EXPECT_EQ(site.heads()[0].find("Cookie:"), std::string::npos);
    EXPECT_NE(site.heads()[1].find("\r\nCookie: s=1; t=2\r\n\r\n"), std::string::npos) << site.heads()[1];
}

TEST(HttpsClient, AHandshakeFailureEndsTheRequest)
{
    TlsTestServer server([](int fd) { vornel::test::readClientHello(fd); }); // then hangs up
    HttpClient client(ClientSettings::configured(), std::make_shared<Transport>());
    try {
        client.GetAsText("https://127.0.0.1:" + std::to_string(server.port()) + "/");
        FAIL() << "the request succeeded";
    } catch (const HttpError& error) {
        EXPECT_EQ(error.kindName(), "EIdOSSLConnectError");
        EXPECT_STREQ(error.what(), "Error connecting with SSL.\r\nEOF was observed that violates the protocol");
    }
}

TEST(HttpsClient, KeepsPumpingWhileATls13ServerDelaysItsReply)
{
    // A TLS 1.3 server's session tickets make the socket readable before the reply exists;
    // the wait must go on running the pump rather than block inside the session.
    TlsTestServer server([](SSL* ssl, int) {
        vornel::test::readRequestHead(ssl);
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        vornel::test::writeAll(ssl, closingReply("late"));
        SSL_shutdown(ssl);
    });
    std::atomic<int> pumped{0};
    IdlePump pump([&] { ++pumped; }, [] { return true; });
    HttpClient client(ClientSettings::configured(), std::make_shared<Transport>());
    EXPECT_EQ(client.GetAsText("https://127.0.0.1:" + std::to_string(server.port()) + "/"), "late");
    EXPECT_GE(pumped.load(), 2);
}
