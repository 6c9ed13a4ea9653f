#include "http/cookie_match.h"

#include "http/cookie_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace vornel::http {

bool isAddressLiteral(std::string_view host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string text(host);
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, text.c_str(), &v4) == 1 || inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

bool domainMatches(std::string_view host, std::string_view domain)
{
    if (host.empty() || domain.empty())
        return false;
    if (equalsIgnoringCase(host, domain))
        return true;
    return host.size() > domain.size() && endsWithIgnoringCase(host, domain) &&
           host[host.size() - domain.size() - 1] == '.' && host.front() != '.' && !isAddressLiteral(host);
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath)
{
    if (equalsIgnoringCase(requestPath, cookiePath))
        return true;
    if (cookiePath.empty() || !startsWithIgnoringCase(requestPath, cookiePath))
        return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string defaultCookiePath(std::string_view requestPath)
{
    const size_t lastSlash = requestPath.rfind('/');
    if (requestPath.empty() || requestPath.front() != '/' || lastSlash == 0)
        return "/";
    return std::string(requestPath.substr(0, lastSlash));
}

} // namespace vornel::http
