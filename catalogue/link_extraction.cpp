#include "catalogue/link_extraction.h"

#include "catalogue/html_anchors.h"
#include "catalogue/link_target.h"
#include "http/uri.h"

namespace vornel::catalogue {

http::ClientSettings linkPageClientSettings()
{
    http::ClientSettings settings = http::ClientSettings::runtime();
    settings.requestDeadlineMs = http::kPageRequestDeadlineMs;
    return settings;
}

std::string pageBase(const std::string& url)
{
    const http::UriParts parts = http::splitUri(url);
    // An IPv6 address needs its brackets back to stay usable in front of a path.
    const std::string host = parts.ipv6 ? "[" + parts.host + "]" : parts.host;
    return parts.protocol + "://" + host;
}

std::vector<PageLink> linksOfPage(const std::string& url, const std::string& html)
{
    const std::string base = pageBase(url);
    std::vector<PageLink> links;
    forEachAnchor(html, [&](const std::string& href, const std::string& text) {
        links.push_back({linkUrlFromTarget(documentTarget(href), base), text});
    });
    return links;
}

void GetLinks(const std::string& url, const LinkSink& append)
{
    const std::string base = pageBase(url);
    http::HttpClient client(linkPageClientSettings());
    const std::string page = client.GetAsText(url);
    forEachAnchor(page, [&](const std::string& href, const std::string& text) {
        append(linkUrlFromTarget(documentTarget(href), base), text);
    });
}

} // namespace vornel::catalogue
