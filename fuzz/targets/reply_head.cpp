// A reply's status line and header block as a server sends them, read off a connection,
// then the header fields evaluated and looked up. First byte: the header line limit.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/support/loopback_reply.h"
#include "http/header_fields.h"
#include "http/http_client.h"
#include "http/input_buffer.h"
#include "http/reply_head.h"

#include <stdexcept>

using namespace vornel::http;

VORNEL_FUZZ_TARGET(reply_head)
{
    vornel::fuzz::FuzzInput input(data, size);
    const int maxHeaderLines = input.byte() % 2 ? -1 : 255;
    vornel::fuzz::LoopbackReply reply(input.rest());
    InputBuffer buffer(reply.transport(), reply.aborted());
    Response response;
    try {
        readReplyHead(buffer, maxHeaderLines, response);
    } catch (const std::runtime_error&) {
        return 0;
    }
    evaluateHeaders(response);
    (void)statusCodeOf(response.ResponseText);
    for (const char* name : {"Content-Type", "Set-Cookie", "Location", "Transfer-Encoding"}) {
        const auto value = findHeader(response.RawHeaders, name);
        const MediaType media = mediaTypeOf(value.value_or(""), value.has_value());
        (void)isHtmlMediaType(media.contentType);
        (void)isXmlMediaType(media.contentType);
    }
    if (!response.RawHeaders.empty())
        setHeaderLine(response.RawHeaders, response.RawHeaders.front());
    return 0;
}
