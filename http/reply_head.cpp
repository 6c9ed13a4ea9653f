#include "http/reply_head.h"

#include "http/header_fields.h"
#include "http/http_error.h"
#include "http/input_buffer.h"
#include "http/received_text.h"

#include <charconv>
#include <optional>

namespace vornel::http {
namespace {

// A whole decimal number with an optional sign, nullopt otherwise.
template <typename Integer>
std::optional<Integer> parseDecimal(const std::string& text)
{
    std::string digits = text;
    if (!digits.empty() && digits[0] == '+')
        digits.erase(0, 1);
    Integer value{};
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// The next head line, counted against the bound before it is kept.
std::optional<std::string> readHeadLine(InputBuffer& input, size_t& headBytes)
{
    size_t used = 0;
    std::optional<std::string> line = input.readLine(&used);
    headBytes += used;
    if (headBytes > kMaxHeadBytes)
        throw HttpError(FailureKind::HeaderBlockTooLarge, "Reply header block too large.");
    return line;
}

} // namespace

int statusCodeOf(const std::string& statusLine)
{
    const size_t space = statusLine.find(' ');
    if (space == std::string::npos)
        return -1;
    std::string code = trim(statusLine.substr(space + 1));
    code = code.substr(0, code.find(' '));
    code = code.substr(0, code.find('.'));
    return parseDecimal<int>(code).value_or(-1);
}

void evaluateHeaders(Response& response)
{
    const auto& lines = response.RawHeaders;
    const auto length = findHeader(lines, "Content-Length");
    response.ContentLength = length ? parseDecimal<int64_t>(*length).value_or(-1) : -1;
    response.TransferEncoding = findHeader(lines, "Transfer-Encoding").value_or("");
    const auto contentType = findHeader(lines, "Content-Type");
    const MediaType media = mediaTypeOf(contentType.value_or(""), contentType.has_value());
    response.ContentType = media.contentType;
    response.CharSet = media.charSet;
    response.Location = findHeader(lines, "Location").value_or("");
    response.Connection = findHeader(lines, "Connection").value_or("");
    response.ProxyConnection = findHeader(lines, "Proxy-Connection").value_or("");
}

void readReplyHead(InputBuffer& input, int maxHeaderLines, Response& response, size_t* headBytes)
{
    size_t ownCount = 0;
    size_t& counted = headBytes ? *headBytes : ownCount;
    response = Response();
    const auto statusLine = readHeadLine(input, counted);
    if (!statusLine)
        throw HttpError(FailureKind::ConnClosedGracefully, "Connection Closed Gracefully.");
    response.ResponseText = receivedText(*statusLine);
    response.ResponseCode = statusCodeOf(response.ResponseText);
    const size_t version = response.ResponseText.find("HTTP/");
    response.version11 = version != std::string::npos && response.ResponseText.compare(version + 5, 3, "1.1") == 0;
    for (int count = 0; count < maxHeaderLines; ++count) {
        const auto line = readHeadLine(input, counted);
        if (!line) {
            input.consume(input.size()); // a cut-off line is no header
            break;
        }
        if (line->empty())
            break;
        response.RawHeaders.push_back(receivedText(*line));
    }
    evaluateHeaders(response);
}

} // namespace vornel::http
