#pragma once
// Reading a reply's status line and header block, and evaluating the header fields into
// the response record.
#include "http/http_client.h"

namespace vornel::http {

class InputBuffer;

// A reply's status line and header lines together (interim replies included) may take
// this many bytes; beyond it the reply fails with kind "EIdHeaderBlockTooLarge".
constexpr size_t kMaxHeadBytes = 1024 * 1024;

// Clears the record's header fields, then reads one status line and header block into it.
// Throws "Connection Closed Gracefully." when the status line does not arrive complete.
// headBytes (when given) carries the bytes of earlier heads of the same reply.
void readReplyHead(InputBuffer& input, int maxHeaderLines, Response& response, size_t* headBytes = nullptr);

// Fills the fields from response.RawHeaders (also after the meta scan changed them).
void evaluateHeaders(Response& response);

// The code of a status line: the token after the first space, before any "."; -1 if none.
int statusCodeOf(const std::string& statusLine);

} // namespace vornel::http
