// A reply body read by each framing the client knows, off a connection. First byte: the
// framing and whether the body is kept; for a length, eight bytes of length; for
// multipart, the boundary up to a line feed; the rest is what the server sends.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/support/loopback_reply.h"
#include "http/body_reader.h"
#include "http/byte_stream.h"
#include "http/input_buffer.h"

#include <stdexcept>

using namespace vornel::http;

VORNEL_FUZZ_TARGET(body_framing)
{
    vornel::fuzz::FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    int64_t length = 0;
    std::string boundary;
    switch (choice % 4) {
    case 0: length = static_cast<int64_t>(input.number(8)); break;
    case 3: boundary = input.textUntil('\n'); break;
    default: break;
    }
    vornel::fuzz::LoopbackReply reply(input.rest());
    InputBuffer buffer(reply.transport(), reply.aborted());
    int64_t worked = 0;
    WorkEvents events{[](int64_t) {}, [&](int64_t count) { worked = count; }, [] {}};
    MemoryStream kept;
    BodyReader reader(buffer, events, choice & 4 ? &kept : nullptr);
    std::vector<std::string> trailers;
    try {
        switch (choice % 4) {
        case 0: reader.readLength(length); break;
        case 1: reader.readChunked(trailers); break;
        case 2: reader.readUntilClose(); break;
        case 3: reader.readMultipart(boundary); break;
        }
    } catch (const std::runtime_error&) {}
    return 0;
}
