#include "demo/request_log.h"

#include <cerrno>
#include <cstring>

namespace vornel::demo {

RequestLog::~RequestLog()
{
    if (file_)
        std::fclose(file_);
}

std::string RequestLog::open(const std::string& path)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
        return "cannot open log " + path + ": " + std::strerror(errno);
    return {};
}

void RequestLog::write(const std::string& server, const std::string& target)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_)
        return;
    // Control characters in a target would break the one-line-per-request form.
    std::string clean = target;
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    std::fprintf(file_, "%s %s\n", server.c_str(), clean.c_str());
    std::fflush(file_);
}

} // namespace vornel::demo
