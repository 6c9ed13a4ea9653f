#pragma once
// How a request of the HTTP tests ended: the failure it raised, taken apart for comparison.
#include "http/http_client.h"
#include "http/http_error.h"

#include <string>
#include <utility>

namespace vornel::test {

struct RequestFailure {
    std::string kind = "none"; // the failure kind's name; "none" when the request succeeded
    std::string message;
    int socketError = 0; // the socket error number of an "EIdSocketError"

    // "<kind>: <message>", or "none".
    std::string text() const { return kind == "none" ? kind : kind + ": " + message; }
};

// Runs `request` and returns the HttpError it raised, or kind "none" when it raised none.
template <typename Request>
RequestFailure failureOf(Request&& request)
{
    try {
        std::forward<Request>(request)();
    } catch (const http::SocketError& error) {
        return {std::string(error.kindName()), error.what(), error.errorNumber()};
    } catch (const http::HttpError& error) {
        return {std::string(error.kindName()), error.what(), 0};
    }
    return {};
}

// The failure of a GET of `url` into `body`.
inline RequestFailure failureOf(http::HttpClient& client, const std::string& url, http::MemoryStream& body)
{
    return failureOf([&] { client.GetToStream(url, body); });
}

// The failure of a GET of `url` whose body is not looked at.
inline RequestFailure failureOf(http::HttpClient& client, const std::string& url)
{
    http::MemoryStream body;
    return failureOf(client, url, body);
}

} // namespace vornel::test
