#include "tests/support/peak_memory.h"

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace vornel::test {

long statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    const size_t length = std::strlen(field);
    std::string line;
    while (std::getline(status, line)) {
        if (line.size() > length && line.compare(0, length, field) == 0 && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    }
    return 0;
}

bool restartPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

long peakKilobytes()
{
    if (const long peak = statusKilobytes("VmHWM"))
        return peak;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace vornel::test
