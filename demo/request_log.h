#pragma once
// One line per request, "host:port target", flushed at once so that a reader sees it while
// the demo runs.
#include <cstdio>
#include <mutex>
#include <string>

namespace vornel::demo {

class RequestLog {
public:
    RequestLog() = default;
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // Opens (and empties) the file; returns an error text, empty on success.
    std::string open(const std::string& path);
    void write(const std::string& server, const std::string& target);

private:
    std::mutex lock_;
    std::FILE* file_ = nullptr;
};

} // namespace vornel::demo
