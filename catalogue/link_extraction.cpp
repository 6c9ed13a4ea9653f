#include "catalogue/link_extraction.h"

#include "catalogue/html_anchors.h"
#include "catalogue/link_target.h"
#include "http/http_client.h"
#include "http/uri.h"

namespace vornel::catalogue {

namespace {

std::string fetchPage(const std::string& url)
{
    http::HttpClient client(http::ClientSettings::runtime());
    return client.GetAsText(url);
}

} // namespace

std::string pageBase(const std::string& url)
{
    const http::UriParts parts = http::splitUri(url);
    // An IPv6 address needs its brackets back to stay usable in front of a path.
    const std::string host = parts.ipv6 ? "[" + parts.host + "]" : parts.host;
    return parts.protocol + "://" + host;
}

void GetLinks(const std::string& url, const LinkSink& append)
{
    const std::string base = pageBase(url);
    const std::string page = fetchPage(url);
    forEachAnchor(page, [&](const std::string& href, const std::string& text) {
        append(linkUrlFromTarget(documentTarget(href), base), text);
    });
}

} // namespace vornel::catalogue
