#pragma once
// Cookies kept in memory per client, and the Cookie header for later requests.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vornel::http {

// The request as the client prepared it: protocol, host, and the directory part of the
// path (ending in "/").
struct CookieRequest {
    std::string protocol;
    std::string host;
    std::string path;
};

class CookieStore {
public:
    CookieStore();
    ~CookieStore();

    // Offers every Set-Cookie line of a reply's header block, in the order received.
    void takeReplyCookies(const std::vector<std::string>& rawHeaders, const CookieRequest& request);
    // Purges expired cookies, then the value of the Cookie header, or nothing.
    std::optional<std::string> cookieHeader(const CookieRequest& request);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vornel::http
