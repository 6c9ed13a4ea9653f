#pragma once
// Addresses of the catalogue's pages and the test that keeps a link for the playlist.
#include <cstdint>
#include <string>

namespace vornel::catalogue {

// The catalogue site's root address, ending in "/" (fixed when the program is built).
std::string catalogueBaseUrl();
// The file host's domain that a playlist link must contain (fixed when built).
std::string fileHostMarker();

// Page 1 is the base itself; page N is base + "page/" + N + "/".
std::string pageUrl(const std::string& base, int32_t pageNumber);

// Whether marker occurs anywhere in url, ignoring ASCII letter case.
bool containsFileHostMarker(const std::string& url, const std::string& marker);

} // namespace vornel::catalogue
