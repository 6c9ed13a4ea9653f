#pragma once
// The head of a GET request as it goes out in one write.
#include "http/http_client.h"

#include <optional>
#include <string>
#include <vector>

namespace vornel::http {

// The host (an IPv6 address in brackets), then ":" and the port unless it is the
// protocol's default (80 for http, 443 for https).
std::string hostHeaderValue(const std::string& protocol, const std::string& host, const std::string& port, bool ipv6);

// Request line, Host, Accept, User-Agent, the extra lines, Cookie when given, blank line.
// Non-ASCII text goes out as "?"; values lose trailing blanks.
std::string requestHead(const std::string& target, const std::string& hostValue, const ClientSettings& settings,
                        const std::vector<std::string>& extraHeaders, const std::optional<std::string>& cookie);

} // namespace vornel::http
