#pragma once
// Command-line options of vornel-demo.
#include <string>

namespace vornel::demo {

struct DemoOptions {
    std::string catalogueAddress = "127.0.0.1";
    int cataloguePort = 8690;
    std::string fileAddress = "127.0.0.2";
    int filePort = 8691;
    int trackSeconds = 20;
    std::string logPath;  // empty: no request log
    std::string cacheDir; // empty: the default cache folder
    bool help = false;
};

// Parses argv; returns an error text (empty on success).
std::string parseDemoOptions(int argc, char** argv, DemoOptions& out);
const char* demoUsage();

} // namespace vornel::demo
