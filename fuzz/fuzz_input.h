#pragma once
// Splits one fuzz input into the several values a target needs: single bytes for choices
// and numbers, texts cut at a separator byte, and the rest.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornel::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : bytes_(reinterpret_cast<const char*>(data), size) {}

    bool empty() const { return at_ >= bytes_.size(); }

    // The next byte, 0 once the input is used up.
    uint8_t byte() { return empty() ? 0 : static_cast<uint8_t>(bytes_[at_++]); }

    // A number from the next `count` bytes (little-endian), missing bytes as 0.
    uint64_t number(int count)
    {
        uint64_t value = 0;
        for (int i = 0; i < count; ++i)
            value |= static_cast<uint64_t>(byte()) << (8 * i);
        return value;
    }

    // The text up to the next separator (which is skipped), or the rest.
    std::string textUntil(char separator)
    {
        const size_t end = bytes_.find(separator, at_);
        const size_t stop = end == std::string_view::npos ? bytes_.size() : end;
        std::string text(bytes_.substr(at_, stop - at_));
        at_ = end == std::string_view::npos ? bytes_.size() : end + 1;
        return text;
    }

    std::string rest()
    {
        std::string text(bytes_.substr(std::min(at_, bytes_.size())));
        at_ = bytes_.size();
        return text;
    }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

} // namespace vornel::fuzz
