#include "playback/engine/mp3_scanner.h"

#include <algorithm>

namespace vornel::audio {
namespace {

const int kBitrates[2][3][15] = {
    // MPEG-1: layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // MPEG-2 and 2.5: layer I, II, III
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
const int kRates[3] = {44100, 48000, 32000};

// Size of the layer III side information, which the Xing/Info tag follows.
int sideInfoSize(const FrameHeader& h)
{
    if (h.version == 1)
        return h.channels == 1 ? 17 : 32;
    return h.channels == 1 ? 9 : 17;
}

} // namespace

std::optional<FrameHeader> parseFrameHeader(const unsigned char* p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    FrameHeader h;
    h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    h.crc = (p[1] & 1) == 0;
    h.bitrateKbps = kBitrates[h.version == 1 ? 0 : 1][h.layer - 1][bitrateIndex];
    h.sampleRate = kRates[rateIndex] / (h.version == 1 ? 1 : h.version == 2 ? 2 : 4);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int padding = (p[2] >> 1) & 1;
    const int bitrate = h.bitrateKbps * 1000;
    if (h.layer == 1) {
        h.samplesPerFrame = 384;
        h.size = (12 * bitrate / h.sampleRate + padding) * 4;
    } else if (h.layer == 2 || h.version == 1) {
        h.samplesPerFrame = 1152;
        h.size = 144 * bitrate / h.sampleRate + padding;
    } else {
        h.samplesPerFrame = 576;
        h.size = 72 * bitrate / h.sampleRate + padding;
    }
    if (h.size < 24)
        return std::nullopt;
    return h;
}

bool sameStream(const FrameHeader& a, const FrameHeader& b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

std::optional<InfoFrame> parseInfoFrame(const unsigned char* frame, size_t available, const FrameHeader& header)
{
    if (header.layer != 3)
        return std::nullopt;
    const size_t offset = 4 + (header.crc ? 2 : 0) + sideInfoSize(header);
    available = std::min(available, static_cast<size_t>(header.size));
    if (available < offset + 4)
        return std::nullopt;
    const auto* tag = frame + offset;
    if (!std::equal(tag, tag + 4, "Xing") && !std::equal(tag, tag + 4, "Info"))
        return std::nullopt;
    InfoFrame info;
    auto bigEndian = [](const unsigned char* p) {
        return (int64_t(p[0]) << 24) | (int64_t(p[1]) << 16) | (int64_t(p[2]) << 8) | int64_t(p[3]);
    };
    if (available >= offset + 12 && (bigEndian(tag + 4) & 1))
        info.frames = bigEndian(tag + 8);
    return info;
}

void Mp3Scanner::feed(const char* data, size_t size)
{
    const size_t passed = static_cast<size_t>(std::min<int64_t>(skip_, static_cast<int64_t>(size)));
    skip_ -= passed;
    base_ += passed;
    if (passed < size)
        pending_.append(data + passed, size - passed);
    process(false);
}

int64_t Mp3Scanner::samples() const
{
    if (!firstFrame_)
        return 0;
    return static_cast<int64_t>(static_cast<__int128>(ticks_) * firstFrame_->sampleRate / kTicksPerSecond);
}

void Mp3Scanner::countFrame(const FrameHeader& header)
{
    ticks_ += int64_t(header.samplesPerFrame) * (kTicksPerSecond / header.sampleRate);
}

void Mp3Scanner::finish()
{
    process(true);
}

void Mp3Scanner::consume(int64_t bytes)
{
    const int64_t now = std::min<int64_t>(bytes, static_cast<int64_t>(pendingSize()));
    pendingStart_ += static_cast<size_t>(now);
    base_ += now;
    skip_ = bytes - now;
}

// Every step that reports progress consumes input or moves from Start to Search, and every
// move from Search to Frames is followed by a frame consumed, so the loop always ends.
void Mp3Scanner::process(bool atEnd)
{
    while (skip_ == 0 && !gaveUp_) {
        bool progressed = false;
        switch (state_) {
        case State::Start: progressed = processStart(atEnd); break;
        case State::Search: progressed = processSearch(atEnd); break;
        case State::Frames: progressed = processFrames(atEnd); break;
        }
        if (!progressed)
            break;
    }
    pending_.erase(0, pendingStart_);
    pendingStart_ = 0;
}

bool Mp3Scanner::processStart(bool atEnd)
{
    if (pendingSize() < 10 && !atEnd)
        return false;
    state_ = State::Search;
    if (pendingSize() >= 10 && pending_.compare(pendingStart_, 3, "ID3") == 0) {
        const auto* p = at(0);
        const int64_t tagSize = (int64_t(p[6] & 0x7F) << 21) | (int64_t(p[7] & 0x7F) << 14) |
                                (int64_t(p[8] & 0x7F) << 7) | int64_t(p[9] & 0x7F);
        const bool footer = (p[5] & 0x10) != 0;
        consume(10 + tagSize + (footer ? 10 : 0));
    }
    return true;
}

bool Mp3Scanner::processSearch(bool atEnd)
{
    for (size_t i = 0; i + 4 <= pendingSize(); ++i) {
        const auto header = parseFrameHeader(at(i));
        if (!header)
            continue;
        const size_t next = i + static_cast<size_t>(header->size);
        if (next + 4 > pendingSize()) {
            if (atEnd && next <= pendingSize() && locked()) {
                // A whole frame at the very end of a stream already found plays too.
                consume(static_cast<int64_t>(i));
                current_ = header;
                state_ = State::Frames;
                return true;
            }
            if (atEnd) // a first frame that stands alone at the end is not trusted
                continue;
            searched_ += static_cast<int64_t>(i);
            consume(static_cast<int64_t>(i));
            if (!locked() && searched_ > searchLimit)
                gaveUp_ = true;
            return false;
        }
        const auto following = parseFrameHeader(at(next));
        if (!following || !sameStream(*header, *following))
            continue;
        // Two frames in a row of one stream: from here on that stream is followed, also when
        // its rate or version differs from the frames before.
        consume(static_cast<int64_t>(i));
        current_ = header;
        state_ = State::Frames;
        return true;
    }
    const size_t keep = std::min<size_t>(pendingSize(), 3);
    searched_ += static_cast<int64_t>(pendingSize() - keep);
    consume(static_cast<int64_t>(pendingSize() - keep));
    if (!locked() && (searched_ > searchLimit || atEnd))
        gaveUp_ = true;
    return false;
}

bool Mp3Scanner::processFrames(bool atEnd)
{
    if (pendingSize() < 4)
        return false;
    const auto header = parseFrameHeader(at(0));
    if (!header || (current_ && !sameStream(*header, *current_))) {
        state_ = State::Search;
        return true;
    }
    if (framesSeen_ == 0) {
        const size_t needed = std::min<size_t>(static_cast<size_t>(header->size), 56);
        if (pendingSize() < needed && !atEnd)
            return false;
        if (const auto info = parseInfoFrame(at(0), pendingSize(), *header)) {
            if (info->frames > 0)
                declaredSamples_ = info->frames * header->samplesPerFrame;
            ++framesSeen_;
            current_ = header;
            consume(header->size);
            return true;
        }
    }
    if (atEnd && pendingSize() < static_cast<size_t>(header->size))
        return false; // a frame cut short at the end of the data
    if (!firstFrame_) {
        firstFrame_ = header;
        audioStart_ = base_;
    }
    current_ = header;
    ++framesSeen_;
    ++audioFrames_;
    countFrame(*header);
    consume(header->size);
    return true;
}

} // namespace vornel::audio
