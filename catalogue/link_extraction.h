#pragma once
// Reads one HTML page and reports its links: one (URL, visible text) pair per anchor, in
// document order, every URL made absolute against the page's scheme and host.
#include "http/http_client.h"

#include <functional>
#include <string>
#include <vector>

namespace vornel::catalogue {

using LinkSink = std::function<void(const std::string& linkUrl, const std::string& text)>;

struct PageLink {
    std::string url;
    std::string text;
};

// Fetches url with a client of its own (no redirects; a redirect or an error status is a
// failure) and calls append once per anchor. Every failure is thrown to the caller; the
// pairs appended before it stand.
void GetLinks(const std::string& url, const LinkSink& append);

// The settings of the client that GetLinks makes: a client made at run time, whose request
// ends by the page deadline.
http::ClientSettings linkPageClientSettings();

// The links of a page read from url, given its text. Uses nothing shared: any thread may
// call it. Throws std::runtime_error when the page cannot be parsed.
std::vector<PageLink> linksOfPage(const std::string& url, const std::string& html);

// "scheme://host" of url: no user information, no port, no path.
std::string pageBase(const std::string& url);

} // namespace vornel::catalogue
