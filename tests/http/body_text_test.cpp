// Reply body decoding: character-set decisions from headers, META tags and XML
// declarations, and the decoders themselves.
#include "http/body_text.h"
#include "http/html_meta_scan.h"
#include "http/http_client.h"
#include "http/xml_encoding.h"
#include "tests/http/wire_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::decodeBodyText;
using vornel::http::detectXmlEncoding;
using vornel::http::HttpClient;
using vornel::http::scanHtmlMeta;

struct DecodeCase {
    const char* name;
    std::string bytes;
    const char* charSet;
    std::string text; // UTF-8
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesUtf8Text)
{
    EXPECT_EQ(decodeBodyText(GetParam().bytes, GetParam().charSet), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, DecodeTest,
    testing::Values(
        DecodeCase{"EmptyNameMapsBytes", "caf\xE9", "", "caf\xC3\xA9"},
        DecodeCase{"UnknownNameMapsBytes", "caf\xE9", "x-no-such-set", "caf\xC3\xA9"},
        DecodeCase{"HostileNameMapsBytes", "caf\xE9", "UTF-8//TRANSLIT", "caf\xC3\xA9"},
        DecodeCase{"Latin1", "\xA3\xFF", "ISO-8859-1", "\xC2\xA3\xC3\xBF"},
        DecodeCase{"Utf8KeepsBom", "\xEF\xBB\xBFok \xE2\x82\xAC", "utf-8", "\xEF\xBB\xBFok \xE2\x82\xAC"},
        DecodeCase{"Utf8Malformed", "a\xC3(b\xFF", "UTF-8", "a\xEF\xBF\xBD(b\xEF\xBF\xBD"},
        DecodeCase{"Utf16Le", std::string("h\0i\0\xAC\x20", 6), "utf-16le", "hi\xE2\x82\xAC"},
        DecodeCase{"Utf16IsLittleEndian", std::string("\xFF\xFEh\0", 4), "UTF-16", "\xEF\xBB\xBFh"},
        DecodeCase{"Utf16BeSurrogatePair", std::string("\xD8\x3C\xDF\xB5", 4), "UTF-16BE", "\xF0\x9F\x8E\xB5"},
        DecodeCase{"UsAsciiReplacesHighBytes", "a\x80z", "us-ascii", "a\xEF\xBF\xBDz"},
        DecodeCase{"Utf7", "Hi +AKM-1 +- x", "UTF-7",
                   "Hi \xC2\xA3"
                   "1 + x"},
        DecodeCase{"Windows1252ByConverter", "\x80", "windows-1252", "\xE2\x82\xAC"},
        DecodeCase{"Koi8rByConverter", "\xC1", "KOI8-R", "\xD0\xB0"},
        DecodeCase{"Latin1Alias", "\xE9", "latin1", "\xC3\xA9"},
        DecodeCase{"ShiftJisAlias", "\x82\xA0", "csShiftJIS", "\xE3\x81\x82"},
        DecodeCase{"WindowsCodePageSpelling", "\x80", "cp1252", "\xE2\x82\xAC"},
        DecodeCase{"RegistryNameIgnoresCaseAndBlanks", "\x80", " Windows-1252 ", "\xE2\x82\xAC"},
        DecodeCase{"KoreanStandardName", "\xB0\xA1", "KS_C_5601-1987", "\xEA\xB0\x80"},
        DecodeCase{"ConverterOnlyUtf8SpellingMapsBytes", "caf\xC3\xA9", "utf8", "caf\xC3\x83\xC2\xA9"},
        DecodeCase{"ConverterOnlyWideNameMapsBytes", std::string("a\0\0\0", 4), "WCHAR_T", std::string("a\0\0\0", 4)},
        DecodeCase{"ConverterOnlyCodePageMapsBytes", "ok\xA2\xE8", "cp949", "ok\xC2\xA2\xC3\xA8"},
        DecodeCase{"Ucs4BeyondUnicodeIsReplaced", std::string("\0\x11\0\0\0\0\0A", 8), "ISO-10646-UCS-4",
                   "\xEF\xBF\xBD"
                   "A"}),
    [](const testing::TestParamInfo<DecodeCase>& test) { return std::string(test.param.name); });

bool isValidUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80                      ? 1
                        : (lead >= 0xC2 && lead <= 0xDF) ? 2
                        : (lead >= 0xE0 && lead <= 0xEF) ? 3
                        : (lead >= 0xF0 && lead <= 0xF4) ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size())
            return false;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < minimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

struct HostileCase {
    const char* name;
    std::string bytes;
    const char* charSet;
    std::string prefix; // what the decoded text must begin with
};

class HostileBytesTest : public testing::TestWithParam<HostileCase> {};

// Converters that stop on the last byte, stateful encodings cut after a shift, and wide
// encodings with values beyond Unicode all give valid UTF-8.
TEST_P(HostileBytesTest, GiveValidUtf8)
{
    const std::string text = decodeBodyText(GetParam().bytes, GetParam().charSet);
    EXPECT_TRUE(isValidUtf8(text)) << testing::PrintToString(text);
    EXPECT_EQ(text.substr(0, GetParam().prefix.size()), GetParam().prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Converters, HostileBytesTest,
    testing::Values(HostileCase{"KoreanCutSequence", "ok\xA2\xE8", "KS_C_5601-1987", "ok"},
                    HostileCase{"ChineseShiftOutAtTheEnd", "\x0E", "iso-2022-cn-ext", ""},
                    HostileCase{"ChineseShiftOutAfterText", "<html>x\x0E", "ISO-2022-CN-EXT", "<html>x"},
                    HostileCase{"JapaneseEscapeCutShort", "a\x1B$", "ISO-2022-JP", "a"},
                    HostileCase{"Ucs4HighValues", std::string("\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0\0\xD8\0", 12),
                                "ISO-10646-UCS-4", ""},
                    HostileCase{"Utf32BeyondUnicode", std::string("\0\0\x11\0\0\0\0A\0", 9), "UTF-32LE", ""},
                    HostileCase{"Utf32OddTail", std::string("A\0\0\0\xFF\xFF", 6), "UTF-32LE", "A"},
                    HostileCase{"Gb18030CutFourByteForm", "z\x81\x30\x81", "GB18030", "z"}),
    [](const testing::TestParamInfo<HostileCase>& test) { return std::string(test.param.name); });

TEST(ReplyText, CutShiftSequenceAtTheEndOfAPageDoesNotCrash)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        lengthReply("HTTP/1.1 200 OK", "<html>x\x0E", {"Content-Type: text/html; charset=ISO-2022-CN-EXT"})));
    HttpClient client(ClientSettings::runtime());
    const std::string text = client.GetAsText(server.url("/page"));
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_EQ(text.substr(0, 7), "<html>x");
}

TEST(MetaScan, ReadsHttpEquivAndCharsetFromTheHead)
{
    const auto found =
        scanHtmlMeta("<!DOCTYPE html><html><head><title><meta charset=wrong></title>"
                     "<!-- <meta charset=commented> -->"
                     "<META HTTP-EQUIV='Content-Type' content=\"text/html; charset=koi8-r\">"
                     "<meta content='x' http-equiv='Refresh'>"
                     "<meta charset=\"utf-8\"><script>'<meta charset=in-script>'</script></head><body></body></html>");
    EXPECT_EQ(found.headerLines, std::vector<std::string>{"Content-Type: text/html; charset=koi8-r"});
    EXPECT_EQ(found.charSet, "utf-8");
}

TEST(MetaScan, StopsAtBodyAndNeedsTheHtmlTag)
{
    EXPECT_EQ(scanHtmlMeta("<html><body><meta charset=utf-8></body></html>").charSet, "");
    EXPECT_EQ(scanHtmlMeta("<head><meta charset=utf-8></head>").charSet, "");
    EXPECT_EQ(scanHtmlMeta("<html><title>x</title><head><meta charset=utf-8>").charSet, "");
}

TEST(XmlEncoding, DetectsFromMarkOrDeclaration)
{
    EXPECT_EQ(detectXmlEncoding("<?xml version='1.0' encoding='ISO-8859-2'?><a/>"), "ISO-8859-2");
    EXPECT_EQ(detectXmlEncoding("<?xml version=\"1.0\"?><a/>"), "UTF-8");
    EXPECT_EQ(detectXmlEncoding("<a/>"), "UTF-8");
    EXPECT_EQ(detectXmlEncoding("\xFE\xFF\0<"), "UTF-16BE");
    EXPECT_EQ(detectXmlEncoding(std::string("<\0?\0x\0m\0l\0 \0e\0n\0c\0o\0d\0i\0n\0g\0=\0\"\0U\0T\0F\0-\0"
                                            "1\0"
                                            "6\0L\0E\0\"\0?\0>\0",
                                            48)),
              "UTF-16LE");
    // "<?xml encoding="cp037"?>" in EBCDIC
    EXPECT_EQ(detectXmlEncoding(
                  "\x4C\x6F\xA7\x94\x93\x40\x85\x95\x83\x96\x84\x89\x95\x87\x7E\x7F\x83\x97\xF0\xF3\xF7\x7F\x6F\x6E"),
              "cp037");
}

struct ReplyCase {
    const char* name;
    std::vector<std::string> headers;
    std::string body;
    const char* charSet; // the reply's CharSet afterwards
    std::string text;
};

class ReplyTextTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyTextTest, DecodesByTheReplysCharset)
{
    const auto& c = GetParam();
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(lengthReply("HTTP/1.1 200 OK", c.body, c.headers)));
    HttpClient client(ClientSettings::runtime());
    EXPECT_EQ(client.GetAsText(server.url("/page")), c.text);
    EXPECT_EQ(client.response().CharSet, c.charSet);
}

const std::string kUtf8Page = "<html><head><meta charset=\"UTF-8\"></head><body>caf\xC3\xA9</body></html>";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTextTest,
    testing::Values(
        ReplyCase{"HtmlWithoutCharsetIsLatin1",
                  {"Content-Type: text/html"},
                  "<p>caf\xE9</p>",
                  "ISO-8859-1",
                  "<p>caf\xC3\xA9</p>"},
        ReplyCase{"MetaCharsetWins", {"Content-Type: text/html"}, kUtf8Page, "UTF-8", kUtf8Page},
        ReplyCase{"MergedContentTypeReplacesTheHeaders",
                  {"Content-Type: text/html; charset=UTF-8"},
                  "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head>\xE9</html>",
                  "ISO-8859-1",
                  "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head>\xC3\xA9</html>"},
        ReplyCase{"ContentBeforeHttpEquivGivesNothing",
                  {"Content-Type: text/html; charset=UTF-8"},
                  "<html><head><meta content=\"text/html; charset=koi8-r\" "
                  "http-equiv=\"Content-Type\"></head>\xC3\xA9</html>",
                  "UTF-8",
                  "<html><head><meta content=\"text/html; charset=koi8-r\" "
                  "http-equiv=\"Content-Type\"></head>\xC3\xA9</html>"},
        ReplyCase{"OctetStreamHasNoCharset", {"Content-Type: application/octet-stream"}, "\xE9", "", "\xC3\xA9"},
        ReplyCase{"NoContentType", {}, "\xE9", "", "\xC3\xA9"},
        ReplyCase{
            "UnknownHeaderCharset", {"Content-Type: text/plain; charset=nonsense-9"}, "\xE9", "nonsense-9", "\xC3\xA9"},
        ReplyCase{
            "TextXmlDefaultsToUsAscii", {"Content-Type: text/xml"}, "<a>\xE9</a>", "us-ascii", "<a>\xEF\xBF\xBD</a>"},
        ReplyCase{"XmlDeclarationWins",
                  {"Content-Type: application/xml; charset=UTF-8"},
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>",
                  "ISO-8859-1",
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>"},
        ReplyCase{"XmlWithoutDeclarationIsUtf8",
                  {"Content-Type: application/rss+xml; charset=ISO-8859-1"},
                  "<a>\xC3\xA9</a>",
                  "UTF-8",
                  "<a>\xC3\xA9</a>"}),
    [](const testing::TestParamInfo<ReplyCase>& test) { return std::string(test.param.name); });

TEST(ReplyText, MetaHeaderLinesMergeIntoTheReply)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        lengthReply("HTTP/1.1 200 OK",
                    "<html><head><meta http-equiv=\"Refresh\" content=\"5\"><meta http-equiv=\"content-type\" "
                    "content=\"text/html; charset=windows-1252\"></head></html>",
                    {"Content-Type: text/html; charset=UTF-8", "X-Other: kept"})));
    HttpClient client;
    client.GetAsText(server.url("/"));
    const auto& lines = client.response().RawHeaders;
    EXPECT_EQ(client.response().header("Refresh"), "5");
    EXPECT_EQ(client.response().header("X-Other"), "kept");
    EXPECT_EQ(client.response().CharSet, "windows-1252");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.rfind("Content-Type", 0) == 0 || l.rfind("content-type", 0) == 0;
                            }),
              1);
}

TEST(ReplyText, ErrorBodyTextIsDecodedToo)
{
    ScriptedServer server;
    server.addConnection(ConnectionScript().expectHead().send(
        lengthReply("HTTP/1.1 500 Oops", "\xE9t\xE9", {"Content-Type: text/plain"})));
    HttpClient client;
    try {
        client.GetAsText(server.url("/"));
        FAIL() << "no failure";
    } catch (const vornel::http::ProtocolError& error) {
        EXPECT_EQ(error.bodyText(), "\xC3\xA9t\xC3\xA9");
    }
}

} // namespace
