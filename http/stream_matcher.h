#pragma once
// Finds a fixed text in bytes that arrive one at a time, looking at each byte once
// (Knuth-Morris-Pratt): the cost is linear in the bytes fed, whatever the text's length.
#include <string>
#include <vector>

namespace vornel::http {

class StreamMatcher {
public:
    explicit StreamMatcher(std::string pattern);

    // True when this byte completes an occurrence of the pattern.
    bool feed(char byte);

private:
    std::string pattern_;
    std::vector<size_t> fallback_; // longest proper border of each prefix
    size_t matched_ = 0;
};

} // namespace vornel::http
