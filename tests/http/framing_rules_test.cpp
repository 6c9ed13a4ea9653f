// Line limits, chunk sizes, progress pieces and the character set of XHTML pages.
#include "http/http_client.h"
#include "http/stream_matcher.h"
#include "tests/http/request_failure.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;
using vornel::http::MemoryStream;
using vornel::http::StreamMatcher;

struct LineCase {
    const char* name;
    size_t textLength; // the header line's characters before its line end
    const char* lineEnd;
    const char* outcome;
};

void PrintTo(const LineCase& param, std::ostream* out)
{
    *out << param.name;
}

class LineLimit : public ::testing::TestWithParam<LineCase> {};

// The limit counts every byte before the LF, a CR included.
TEST_P(LineLimit, CountsTheBytesBeforeTheLf)
{
    const LineCase& param = GetParam();
    const std::string line = "X-Long: " + std::string(param.textLength - 8, 'l');
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send("HTTP/1.1 200 OK\r\n" + line + param.lineEnd +
                                                              "Content-Length: 2\r\n\r\nok"));
    HttpClient client;
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/l"), body).kind, param.outcome);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineLimit,
                         ::testing::Values(LineCase{"Chars16383WithCrLf", 16383, "\r\n", "none"},
                                           LineCase{"Chars16384WithCrLf", 16384, "\r\n",
                                                    "EIdReadLnMaxLineLengthExceeded"},
                                           LineCase{"Chars16384WithLf", 16384, "\n", "none"},
                                           LineCase{"Chars16385WithLf", 16385, "\n", "EIdReadLnMaxLineLengthExceeded"}),
                         [](const auto& test) { return std::string(test.param.name); });

struct ChunkCase {
    const char* name;
    std::string sizeLine;
    std::string data;
    const char* outcome;
    std::string body;
};

void PrintTo(const ChunkCase& param, std::ostream* out)
{
    *out << param.name;
}

class ChunkSize : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkSize, IsReadAsItsHexadecimalValue)
{
    const ChunkCase& param = GetParam();
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(reply(
        "HTTP/1.1 200 OK", {"Transfer-Encoding: chunked"}, param.sizeLine + "\r\n" + param.data + "\r\n0\r\n\r\n")));
    HttpClient client;
    MemoryStream body;
    EXPECT_EQ(failureOf(client, server.url("/c"), body).kind, param.outcome);
    EXPECT_EQ(body.bytes(), param.body);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ChunkSize,
    ::testing::Values(ChunkCase{"SixteenDigitsWithLeadingZeros", "0000000000000003", "abc", "none", "abc"},
                      ChunkCase{"ThirtyDigitsWithLeadingZeros", std::string(28, '0') + "1a", std::string(26, 'z'),
                                "none", std::string(26, 'z')},
                      ChunkCase{"LargestThatFits", "7fffffffffffffff", "abc", "EIdBodyTooLarge", ""},
                      ChunkCase{"OneBeyondSignedSixtyFourBits", "8000000000000000", "abc", "EIdChunkSizeTooLarge", ""},
                      ChunkCase{"SeventeenSignificantDigits", "10000000000000000", "abc", "EIdChunkSizeTooLarge", ""}),
    [](const auto& test) { return std::string(test.param.name); });

struct PieceCase {
    const char* name;
    std::vector<std::string> headers;
    std::string lastBytes; // the body's end
};

void PrintTo(const PieceCase& param, std::ostream* out)
{
    *out << param.name;
}

class BodyPieces : public ::testing::TestWithParam<PieceCase> {};

// 5000 bytes with the head, then 9 x 10000 in separate sends: the piece that came with
// the head, then pieces of 32768 once fully arrived.
TEST_P(BodyPieces, AreTheHeadPartThenWhole32768BytePieces)
{
    const PieceCase& param = GetParam();
    std::string data(95000 - param.lastBytes.size(), 'p');
    data += param.lastBytes;
    ConnectionScript script;
    script.expectHead().send(reply("HTTP/1.1 200 OK", param.headers, data.substr(0, 5000)));
    // A longer first pause keeps the head's piece apart even on a busy machine.
    for (size_t at = 5000; at < data.size(); at += 10000)
        script.wait(Millis(at == 5000 ? 150 : 20)).send(data.substr(at, 10000));
    ScriptedServer server;
    server.addConnection(script.close());
    HttpClient client;
    EventLog log;
    log.attach(client);
    MemoryStream body;
    client.GetToStream(server.url("/p"), body);
    EXPECT_EQ(body.bytes(), data);
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"begin 0", "work 5000", "work 37768", "work 70536", "work 95000", "end"}));
}

INSTANTIATE_TEST_SUITE_P(
    Framings, BodyPieces,
    ::testing::Values(PieceCase{"UntilClose", {"Content-Type: audio/mpeg"}, ""},
                      PieceCase{"Multipart", {"Content-Type: multipart/mixed; boundary=XB"}, "\r\n--XB--\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Multipart, AVeryLongBoundaryIsFoundAcrossPieces)
{
    const std::string boundary(16000, 'b');
    std::string data = std::string(100000, 'b') + "a--" + boundary + "-" + std::string(50000, 'x');
    data += "\r\n--" + boundary + "--\r\n";
    ScriptedServer server;
    ConnectionScript script;
    script.expectHead()
        .send(reply("HTTP/1.1 200 OK", {"Content-Type: multipart/mixed; boundary=\"" + boundary + "\""}))
        .drip(data + "not the body", 7001, Millis(1))
        .expectPeerClose();
    server.addConnection(script);
    HttpClient client;
    MemoryStream body;
    client.GetToStream(server.url("/m"), body);
    EXPECT_EQ(body.bytes(), data);
}

TEST(StreamMatcherTest, FindsEveryEndOfAnOverlappingPattern)
{
    StreamMatcher matcher("aab");
    std::string ends;
    for (const char c : std::string("aaabaabaab"))
        ends += matcher.feed(c) ? '1' : '0';
    EXPECT_EQ(ends, "0001001001");
}

TEST(StreamMatcherTest, ScanStopsRightAfterTheFirstOccurrenceAcrossCalls)
{
    StreamMatcher matcher("--end--");
    const std::string first = "body -- --en";
    EXPECT_EQ(matcher.scan(first.data(), first.size()), first.size());
    EXPECT_FALSE(matcher.matched());
    const std::string second = "d--tail--end--";
    EXPECT_EQ(matcher.scan(second.data(), second.size()), 3u);
    EXPECT_TRUE(matcher.matched());
}

struct XhtmlCase {
    const char* name;
    std::string body;
    const char* charSet;
    const char* text;
};

void PrintTo(const XhtmlCase& param, std::ostream* out)
{
    *out << param.name;
}

class XhtmlCharset : public ::testing::TestWithParam<XhtmlCase> {};

// The meta scan runs first, then the XML detection decides.
TEST_P(XhtmlCharset, ComesFromTheXmlDetectionAfterTheMetaScan)
{
    const XhtmlCase& param = GetParam();
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        lengthReply("HTTP/1.1 200 OK", param.body, {"Content-Type: application/xhtml+xml"})));
    HttpClient client;
    const std::string text = client.GetAsText(server.url("/x"));
    EXPECT_EQ(client.response().CharSet, param.charSet);
    EXPECT_NE(text.find(param.text), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, XhtmlCharset,
    ::testing::Values(
        XhtmlCase{"WithoutDeclaration", "<html><head><title>Caf\xC3\xA9</title></head></html>", "UTF-8", "Caf\xC3\xA9"},
        XhtmlCase{"WithMetaCharsetOnly",
                  "<html><head><meta charset=\"windows-1252\"/><title>Caf\xC3\xA9</title></head></html>", "UTF-8",
                  "Caf\xC3\xA9"},
        XhtmlCase{"WithDeclaration",
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><html><head><title>Caf\xE9</title></head></html>",
                  "ISO-8859-1", "Caf\xC3\xA9"}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
