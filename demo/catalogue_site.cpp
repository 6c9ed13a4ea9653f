#include "demo/catalogue_site.h"

#include "demo/demo_tracks.h"
#include "demo/html_text.h"

#include <cctype>

namespace vornel::demo {
namespace {

// Entry links: most plain, one with markup inside the anchor, so the visible text differs
// from the markup.
std::string entryLink(const std::string& fileHostBase, const DemoTrack& t)
{
    const std::string href = fileHostBase + "/file/" + trackIdText(t.id);
    std::string text = htmlEscape(t.title);
    if (t.id % 10 == 2) {
        const std::string band = "Demo Band";
        if (text.rfind(band, 0) == 0)
            text = "<b>" + band + "</b>" + text.substr(band.size());
    }
    return "      <li><a href=\"" + href + "\">" + text + "</a> <small>MP3, 128 kbit/s</small></li>\n";
}

// Paging links of the site itself, named the way blogs name them.
std::string pagingLinks(int page)
{
    std::string links;
    if (page > 1)
        links += "<a href=\"" + std::string(page == 2 ? "/" : "/page/" + std::to_string(page - 1) + "/") +
                 "\">Newer tracks</a> ";
    if (page < kPageCount)
        links += "<a href=\"/page/" + std::to_string(page + 1) + "/\">Older tracks</a> ";
    return links;
}

std::string aboutHtml()
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>About the demo "
           "catalogue</title></head>\n"
           "<body><h1>About</h1><p>A catalogue of test tones for VornelPlayer. Every track is a steady "
           "tone whose pitch its title names.</p><p><a href=\"/\">Back to the catalogue</a></p></body></html>\n";
}

} // namespace

int pageNumberOf(const std::string& path)
{
    if (path == "/")
        return 1;
    const std::string prefix = "/page/";
    if (path.rfind(prefix, 0) != 0)
        return 0;
    std::string digits = path.substr(prefix.size());
    if (!digits.empty() && digits.back() == '/')
        digits.pop_back();
    if (digits.empty() || digits.size() > 9 || digits.front() == '0')
        return 0;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return 0;
    return std::stoi(digits);
}

std::string CatalogueSite::pageHtml(int page) const
{
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\">"
        "<title>Vornel demo catalogue - page " +
        std::to_string(page) +
        "</title></head>\n<body>\n"
        "  <a name=\"top\"></a>\n"
        "  <header>\n    <h1><a href=\"/\">Vornel demo catalogue</a></h1>\n"
        "    <nav><a href=\"/about\">About</a> | <a href=\"https://www.example.org/music/\">Example music</a> | "
        "<a href=\"" +
        ownBase_ +
        "/feed/\">Feed</a></nav>\n  </header>\n"
        "  <main>\n    <h2>Page " +
        std::to_string(page) + "</h2>\n    <ul>\n";
    const auto tracks = tracksOnPage(page);
    for (const DemoTrack& t : tracks)
        html += entryLink(fileHostBase_, t);
    if (tracks.empty())
        html += "      <li>No tracks on this page yet.</li>\n";
    html += "    </ul>\n  </main>\n  <footer>\n    " + pagingLinks(page) +
            "<a href=\"#top\">Back to top</a> <a href=\"mailto:demo@example.org\">Write to us</a>\n"
            "  </footer>\n</body>\n</html>\n";
    return html;
}

HttpResponse CatalogueSite::handle(const HttpRequest& request) const
{
    const std::string path = request.path();
    if (path == "/about")
        return htmlResponse(200, "OK", aboutHtml());
    const int page = pageNumberOf(path);
    if (page < 1)
        return htmlResponse(404, "Not Found", "<html><body><h1>Not Found</h1></body></html>\n");
    return htmlResponse(200, "OK", pageHtml(page));
}

} // namespace vornel::demo
