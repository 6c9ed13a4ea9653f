#include "catalogue/page_urls.h"

#include <algorithm>
#include <cctype>

namespace vornel::catalogue {

std::string catalogueBaseUrl()
{
    return VORNEL_CATALOGUE_BASE_URL;
}

std::string fileHostMarker()
{
    return VORNEL_FILE_HOST_MARKER;
}

std::string pageUrl(const std::string& base, int32_t pageNumber)
{
    if (pageNumber == 1)
        return base;
    return base + "page/" + std::to_string(pageNumber) + "/";
}

bool containsFileHostMarker(const std::string& url, const std::string& marker)
{
    auto sameLetter = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(url.begin(), url.end(), marker.begin(), marker.end(), sameLetter) != url.end();
}

} // namespace vornel::catalogue
