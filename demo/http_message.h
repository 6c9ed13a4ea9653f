#pragma once
// The request and reply the demo's small HTTP/1.1 server passes to and from its handlers.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vornel::demo {

struct HttpRequest {
    std::string method;
    std::string target;  // as sent, e.g. "/page/2/"
    std::string version; // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header of that name (any letter case), empty when absent.
    std::string header(std::string_view name) const;
    // The target without its query or fragment.
    std::string path() const;
    bool keepAlive() const;
};

struct HttpResponse {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers; // Content-Length and Connection are added
    std::string ownBody;
    std::string_view sharedBody; // used instead of ownBody when set; must outlive the reply
    bool useShared = false;

    std::string_view body() const { return useShared ? sharedBody : std::string_view(ownBody); }
};

HttpResponse htmlResponse(int status, std::string reason, std::string html);

// Parses the head of a request (up to and including the empty line). False when malformed.
bool parseRequestHead(std::string_view head, HttpRequest& out);

// The status line and headers of a reply, ending with the empty line.
std::string formatResponseHead(const HttpResponse& response, bool keepAlive);

} // namespace vornel::demo
