#pragma once
// Removes the metadata blocks that a server sends every icy-metaint bytes of audio.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vornel::audio {

class IcyStripper {
public:
    // metaInterval 0: nothing to strip.
    explicit IcyStripper(int64_t metaInterval = 0) : interval_(metaInterval), untilMeta_(metaInterval) {}

    // Passes the audio bytes of data to audio, in order, in one or more pieces.
    void strip(const char* data, size_t size, const std::function<void(const char*, size_t)>& audio);
    // The text of the last complete metadata block ("StreamTitle='...';").
    const std::string& lastMetadata() const { return lastMetadata_; }
    // How many non-empty metadata blocks have been complete so far.
    uint64_t metadataBlocks() const { return metadataBlocks_; }

private:
    int64_t interval_;
    int64_t untilMeta_;
    bool expectLength_ = false;
    size_t metaLeft_ = 0;
    std::string metadata_;
    std::string lastMetadata_;
    uint64_t metadataBlocks_ = 0;
};

// The StreamTitle of a metadata block ("StreamTitle='Artist - Title';StreamUrl='';"), as
// UTF-8 (a title that is not valid UTF-8 is taken as Latin-1); none when the block has no
// StreamTitle.
std::optional<std::string> icyStreamTitle(std::string_view metadata);

} // namespace vornel::audio
