#pragma once
// The catalogue web site: page 1 at "/", page N at "/page/N/", an about page.
#include "demo/http_message.h"

#include <string>

namespace vornel::demo {

class CatalogueSite {
public:
    // Roots without the final slash: the site's own ("http://127.0.0.1:8690") and the file
    // host's ("http://127.0.0.2:8691"), which entry links point to.
    CatalogueSite(std::string ownBase, std::string fileHostBase)
        : ownBase_(std::move(ownBase)), fileHostBase_(std::move(fileHostBase))
    {}
    HttpResponse handle(const HttpRequest& request) const;

    // The HTML of catalogue page N; pages past the last list no tracks.
    std::string pageHtml(int page) const;

private:
    std::string ownBase_;
    std::string fileHostBase_;
};

// The page number a catalogue path names: 1 for "/" and "/page/1/", N for "/page/N/"
// (with or without the final slash); 0 for any other path.
int pageNumberOf(const std::string& path);

} // namespace vornel::demo
