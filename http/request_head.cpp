#include "http/request_head.h"

#include "http/header_fields.h"
#include "http/received_text.h"

namespace vornel::http {
namespace {

std::string headerLine(const std::string& name, const std::string& value)
{
    std::string text = asciiForSending(value);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return name + ": " + text + "\r\n";
}

} // namespace

std::string hostHeaderValue(const std::string& protocol, const std::string& host, const std::string& port, bool ipv6)
{
    std::string value = ipv6 ? "[" + host + "]" : host;
    const bool defaultPort =
        (equalsIgnoreCase(protocol, "http") && port == "80") || (equalsIgnoreCase(protocol, "https") && port == "443");
    if (!defaultPort)
        value += ":" + port;
    return value;
}

std::string requestHead(const std::string& target, const std::string& hostValue, const ClientSettings& settings,
                        const std::vector<std::string>& extraHeaders, const std::optional<std::string>& cookie)
{
    std::string head = "GET " + asciiForSending(target) + " HTTP/1.1\r\n";
    head += headerLine("Host", hostValue);
    if (!settings.accept.empty())
        head += headerLine("Accept", settings.accept);
    if (!settings.userAgent.empty())
        head += headerLine("User-Agent", settings.userAgent);
    for (const auto& line : extraHeaders) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        head += headerLine(line.substr(0, colon), trim(line.substr(colon + 1)));
    }
    if (cookie)
        head += headerLine("Cookie", *cookie);
    return head + "\r\n";
}

} // namespace vornel::http
