#pragma once
// Shared pieces of the client's wire tests.
#include "http/http_client.h"
#include "tests/support/scripted_server.h"

#include <string>
#include <vector>

namespace vornel::test {

inline const char* kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
inline const char* kUserAgent = "Mozilla/3.0 (compatible; VornelPlayer)";

// The progress events of a client as "begin <size>", "work <count>", "end".
struct EventLog {
    std::vector<std::string> events;

    void attach(http::HttpClient& client)
    {
        client.OnWorkBegin = [this](http::WorkMode, int64_t size) {
            events.push_back("begin " + std::to_string(size));
        };
        client.OnWork = [this](http::WorkMode, int64_t count) { events.push_back("work " + std::to_string(count)); };
        client.OnWorkEnd = [this](http::WorkMode) { events.push_back("end"); };
    }
};

inline std::string reply(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body = "")
{
    std::string text = statusLine + "\r\n";
    for (const auto& line : headers)
        text += line + "\r\n";
    return text + "\r\n" + body;
}

inline std::string lengthReply(const std::string& statusLine, const std::string& body,
                               std::vector<std::string> headers = {})
{
    headers.push_back("Content-Length: " + std::to_string(body.size()));
    return reply(statusLine, headers, body);
}

} // namespace vornel::test
