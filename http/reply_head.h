#pragma once
// Reading a reply's status line and header block, and evaluating the header fields into
// the response record.
#include "http/http_client.h"

namespace vornel::http {

class InputBuffer;

// Clears the record's header fields, then reads one status line and header block into it.
// Throws "Connection Closed Gracefully." when the status line does not arrive complete.
void readReplyHead(InputBuffer& input, int maxHeaderLines, Response& response);

// Fills the fields from response.RawHeaders (also after the meta scan changed them).
void evaluateHeaders(Response& response);

// The code of a status line: the token after the first space, before any "."; -1 if none.
int statusCodeOf(const std::string& statusLine);

} // namespace vornel::http
