#include "demo/demo_options.h"

#include <cctype>
#include <string_view>

namespace vornel::demo {
namespace {

bool parseInt(const std::string& text, int low, int high, int& out)
{
    if (text.empty() || text.size() > 6)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    const int value = std::stoi(text);
    if (value < low || value > high)
        return false;
    out = value;
    return true;
}

} // namespace

const char* demoUsage()
{
    return "usage: vornel-demo [--catalogue-port N] [--file-port N] [--track-seconds N]\n"
           "                   [--log FILE] [--cache-dir DIR]\n"
           "Serves the demo catalogue on 127.0.0.1 (default port 8690) and its file host on\n"
           "127.0.0.2 (default port 8691). Tracks are tones of distinct pitches, N seconds\n"
           "long (1 to 600, default 20), made with lame into the cache folder at start.\n"
           "--log writes one line per request: host:port target.\n";
}

std::string parseDemoOptions(int argc, char** argv, DemoOptions& out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            out.help = true;
            continue;
        }
        if (i + 1 >= argc)
            return "missing value after " + std::string(arg);
        const std::string value = argv[++i];
        if (arg == "--catalogue-port") {
            if (!parseInt(value, 0, 65535, out.cataloguePort))
                return "bad port: " + value;
        } else if (arg == "--file-port") {
            if (!parseInt(value, 0, 65535, out.filePort))
                return "bad port: " + value;
        } else if (arg == "--track-seconds") {
            if (!parseInt(value, 1, 600, out.trackSeconds))
                return "bad track length: " + value;
        } else if (arg == "--log") {
            out.logPath = value;
        } else if (arg == "--cache-dir") {
            out.cacheDir = value;
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    return {};
}

} // namespace vornel::demo
