// vornel-links: lists a page's links as the player's link extraction finds them.
//
//   vornel-links [--filter] URL
//
// Prints one line per anchor, in document order: "<link URL>\t<visible text>", with line
// breaks in the text written as \n, tabs as \t and backslashes as \\. With --filter only
// the links whose URL contains the file-host marker (letter case ignored) are printed.
// On a failure the lines printed so far stand, stderr gets "error: <kind>: <message>"
// (CR and LF written as \r and \n) and the exit status is 1.
#include "catalogue/link_extraction.h"
#include "catalogue/page_urls.h"
#include "http/http_error.h"

#include <exception>
#include <iostream>
#include <string>

namespace {

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default: out += c;
        }
    }
    return out;
}

int fail(const std::string& kind, const std::string& message)
{
    std::cout.flush();
    std::cerr << "error: " << kind << ": " << escaped(message) << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool filter = false;
    std::string url;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--filter" && !filter)
            filter = true;
        else if (url.empty() && !arg.empty() && arg[0] != '-')
            url = arg;
        else
            url.clear(), i = argc; // anything else: usage
    }
    if (url.empty()) {
        std::cerr << "usage: vornel-links [--filter] URL\n";
        return 2;
    }
    const std::string marker = vornel::catalogue::fileHostMarker();
    try {
        vornel::catalogue::GetLinks(url, [&](const std::string& link, const std::string& text) {
            if (!filter || vornel::catalogue::containsFileHostMarker(link, marker))
                std::cout << link << '\t' << escaped(text) << '\n';
        });
    } catch (const vornel::http::HttpError& error) {
        return fail(std::string(error.kindName()), error.what());
    } catch (const std::exception& error) {
        return fail("Exception", error.what());
    }
    return 0;
}
