#pragma once
// Reads one HTML page and reports its links: one (URL, visible text) pair per anchor, in
// document order, every URL made absolute against the page's scheme and host.
#include <functional>
#include <string>

namespace vornel::catalogue {

using LinkSink = std::function<void(const std::string& linkUrl, const std::string& text)>;

// Fetches url with a client of its own (no redirects; a redirect or an error status is a
// failure) and calls append once per anchor. Every failure is thrown to the caller; the
// pairs appended before it stand.
void GetLinks(const std::string& url, const LinkSink& append);

// "scheme://host" of url: no user information, no port, no path.
std::string pageBase(const std::string& url);

} // namespace vornel::catalogue
