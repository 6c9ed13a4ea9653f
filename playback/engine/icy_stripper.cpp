#include "playback/engine/icy_stripper.h"

#include <algorithm>

namespace vornel::audio {
namespace {

// The length of the UTF-8 sequence at text[at], or 0 when none starts there.
size_t utf8SequenceAt(std::string_view text, size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned char lowestSecond = 0x80, highestSecond = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowestSecond = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms ...
        highestSecond = lead == 0xED ? 0x9F : 0xBF; // ... and no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowestSecond = lead == 0xF0 ? 0x90 : 0x80;
        highestSecond = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[at + i]);
        const unsigned char low = i == 1 ? lowestSecond : 0x80, high = i == 1 ? highestSecond : 0xBF;
        if (c < low || c > high)
            return 0;
    }
    return length;
}

bool isUtf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8SequenceAt(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

} // namespace

std::optional<std::string> icyStreamTitle(std::string_view metadata)
{
    constexpr std::string_view key = "StreamTitle='";
    const size_t start = metadata.find(key);
    if (start == std::string_view::npos)
        return std::nullopt;
    std::string_view value = metadata.substr(start + key.size());
    // The value ends at "';"; a title may hold apostrophes of its own. A block cut short
    // ends at its last apostrophe.
    if (const size_t end = value.find("';"); end != std::string_view::npos)
        value = value.substr(0, end);
    else if (const size_t quote = value.rfind('\''); quote != std::string_view::npos)
        value = value.substr(0, quote);
    return isUtf8(value) ? std::string(value) : latin1ToUtf8(value);
}

void IcyStripper::strip(const char* data, size_t size, const std::function<void(const char*, size_t)>& audio)
{
    if (interval_ <= 0) {
        if (size)
            audio(data, size);
        return;
    }
    while (size > 0) {
        if (metaLeft_ > 0) {
            const size_t n = std::min(metaLeft_, size);
            metadata_.append(data, n);
            metaLeft_ -= n;
            data += n;
            size -= n;
            if (metaLeft_ == 0) {
                lastMetadata_ = metadata_.substr(0, metadata_.find('\0'));
                ++metadataBlocks_;
                untilMeta_ = interval_;
            }
        } else if (expectLength_) {
            metaLeft_ = static_cast<unsigned char>(*data) * size_t(16);
            metadata_.clear();
            expectLength_ = false;
            ++data;
            --size;
            if (metaLeft_ == 0)
                untilMeta_ = interval_;
        } else {
            const size_t n = static_cast<size_t>(std::min<int64_t>(untilMeta_, static_cast<int64_t>(size)));
            audio(data, n);
            untilMeta_ -= static_cast<int64_t>(n);
            data += n;
            size -= n;
            if (untilMeta_ == 0)
                expectLength_ = true;
        }
    }
}

} // namespace vornel::audio
