// A stream over https, from a TLS server with a self-signed certificate on 127.0.0.1.
#include "tests/engine/engine_test_support.h"

#include "tests/tls/tls_test_server.h"

namespace vornel::test {
namespace {

class HttpsStreamTest : public EngineTest {};

TEST_F(HttpsStreamTest, PlaysAnHttpsUrl)
{
    const std::string mp3 = makeToneMp3({.frequency = 440, .seconds = 1});
    TlsTestServer server([&](SSL* ssl, int) {
        readRequestHead(ssl);
        writeAll(ssl, "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(mp3.size()) +
                          "\r\nConnection: close\r\n\r\n" + mp3);
        SSL_shutdown(ssl);
    });
    const HSTREAM stream = open("https://127.0.0.1:" + std::to_string(server.port()) + "/tone.mp3");
    ASSERT_NE(stream, 0u);
    BASS_ChannelPlay(stream, false);
    pull(4096);
    EXPECT_GT(toneAmplitude(pull(8192), 0, 440), 0.4 * 32767);
}

} // namespace
} // namespace vornel::test
