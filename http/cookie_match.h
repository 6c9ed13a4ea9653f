#pragma once
// Which hosts and paths a cookie belongs to.
#include <string>
#include <string_view>

namespace vornel::http {

// True for an IPv4 or IPv6 address literal (an IPv6 one with or without brackets).
bool isAddressLiteral(std::string_view host);
// Host equals domain (ignoring case), or host is a host name ending in "." + domain.
bool domainMatches(std::string_view host, std::string_view domain);
// The request path equals the cookie path or lies below it (ignoring case).
bool pathMatches(std::string_view requestPath, std::string_view cookiePath);
// The path a cookie gets without a usable Path attribute: the request path up to (not
// including) its last "/", or "/".
std::string defaultCookiePath(std::string_view requestPath);

} // namespace vornel::http
