#include "demo/file_host.h"

#include "demo/demo_tracks.h"
#include "demo/html_text.h"
#include "demo/track_files.h"

#include <cctype>

namespace vornel::demo {
namespace {

bool allDigits(const std::string& s)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

HttpResponse notFound()
{
    return htmlResponse(404, "Not Found", "<html><body><h1>File not found</h1></body></html>\n");
}

std::string pageHead(const std::string& title)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>" + htmlEscape(title) +
           " - demo file host</title></head>\n<body>\n  <h1>" + htmlEscape(title) + "</h1>\n";
}

} // namespace

int trackIdIn(const std::string& path, const std::string& prefix, const std::string& suffix)
{
    if (path.size() <= prefix.size() + suffix.size() || path.rfind(prefix, 0) != 0)
        return 0;
    if (path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const std::string digits = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    return allDigits(digits) ? std::stoi(digits) : 0;
}

bool parseByteRange(const std::string& header, std::size_t size, std::size_t& first, std::size_t& last)
{
    const std::string unit = "bytes=";
    if (header.rfind(unit, 0) != 0 || size == 0)
        return false;
    const std::string spec = header.substr(unit.size());
    const std::size_t dash = spec.find('-');
    if (dash == std::string::npos)
        return false;
    const std::string from = spec.substr(0, dash), to = spec.substr(dash + 1);
    if (!allDigits(from) || (!to.empty() && !allDigits(to)))
        return false;
    first = std::stoul(from);
    last = to.empty() ? size - 1 : std::min<std::size_t>(std::stoul(to), size - 1);
    return first <= last;
}

HttpResponse FileHost::handle(const HttpRequest& request) const
{
    const std::string path = request.path();
    if (const int id = trackIdIn(path, "/file/", ""); id > 0)
        return filePage(id);
    if (const int id = trackIdIn(path, "/audio/", ".mp3"); id > 0)
        return audio(id, request);
    return notFound();
}

HttpResponse FileHost::filePage(int id) const
{
    const DemoTrack* track = findTrack(id);
    if (!track)
        return notFound();
    std::string html = pageHead(track->title);
    if (track->dead) {
        html += "  <p>This file has been removed by its owner.</p>\n";
    } else {
        html += "  <div id=\"player\">Loading the player...</div>\n"
                "  <script>\n    var track = {mp3:\"" +
                ownBase_ + "/audio/" + trackIdText(id) +
                ".mp3\"};\n"
                "    document.getElementById('player').textContent = 'Ready';\n  </script>\n"
                "  <p>Tone of " +
                std::to_string(track->pitchHz) + " Hz, MP3 at 128 kbit/s.</p>\n";
    }
    html += "  <p><a href=\"" + ownBase_ + "/\">Demo file host</a></p>\n</body>\n</html>\n";
    return htmlResponse(200, "OK", std::move(html));
}

HttpResponse FileHost::audio(int id, const HttpRequest& request) const
{
    const std::string* bytes = files_.bytes(id);
    if (!bytes)
        return notFound();
    HttpResponse r;
    r.headers.emplace_back("Content-Type", "audio/mpeg");
    r.headers.emplace_back("Accept-Ranges", "bytes");
    // Every other track comes with stream-server name and bitrate lines.
    if (id % 2 == 1) {
        r.headers.emplace_back("icy-name", "Vornel Demo Radio");
        r.headers.emplace_back("icy-br", "128");
    }
    r.useShared = true;
    r.sharedBody = *bytes;
    const std::string range = request.header("Range");
    std::size_t first = 0, last = 0;
    if (!range.empty() && parseByteRange(range, bytes->size(), first, last)) {
        r.status = 206;
        r.reason = "Partial Content";
        r.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                                    std::to_string(bytes->size()));
        r.sharedBody = std::string_view(*bytes).substr(first, last - first + 1);
    }
    return r;
}

} // namespace vornel::demo
