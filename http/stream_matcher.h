#pragma once
// Finds a fixed text in bytes that arrive one at a time, looking at each byte once
// (Knuth-Morris-Pratt): the cost is linear in the bytes fed, whatever the text's length.
#include <array>
#include <string>
#include <vector>

namespace vornel::http {

class StreamMatcher {
public:
    explicit StreamMatcher(std::string pattern);

    // True when this byte completes an occurrence of the pattern.
    bool feed(char byte);
    // Feeds bytes up to the end of the first occurrence completed in them; returns how many
    // it took (size when none completed).
    size_t scan(const char* data, size_t size);
    bool matched() const { return found_; }

private:
    std::string pattern_;
    std::vector<size_t> fallback_;      // longest proper border of each prefix
    std::array<bool, 256> inPattern_{}; // a byte outside the pattern ends any partial match at once
    size_t matched_ = 0;
    bool found_ = false; // the last byte fed completed an occurrence
};

} // namespace vornel::http
