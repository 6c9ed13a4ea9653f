#include "playback/engine/mp3_decoder.h"

#include <mpg123.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace vornel::audio {
namespace {

std::string textOf(const mpg123_string* text)
{
    if (text == nullptr || text->p == nullptr || text->fill == 0)
        return {};
    // fill counts the closing zero byte.
    return std::string(text->p, ::strnlen(text->p, text->fill));
}

void initialiseLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

} // namespace

Mp3Decoder::Mp3Decoder()
{
    initialiseLibraryOnce();
    int error = 0;
    handle_ = mpg123_new(nullptr, &error);
    if (!handle_)
        return;
    // Raw frame counts keep positions, lengths and seeks in one consistent sample scale.
    mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(handle_);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(handle_) != MPG123_OK) {
        mpg123_delete(handle_);
        handle_ = nullptr;
    }
}

Mp3Decoder::~Mp3Decoder()
{
    if (handle_) {
        mpg123_close(handle_);
        mpg123_delete(handle_);
    }
}

bool Mp3Decoder::feed(const char* data, size_t size)
{
    return handle_ && mpg123_feed(handle_, reinterpret_cast<const unsigned char*>(data), size) == MPG123_OK;
}

Mp3Decoder::Result Mp3Decoder::decode(const int16_t*& samples, size_t& frames)
{
    if (!handle_)
        return Result::Failed;
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int result = mpg123_decode_frame(handle_, &frameNumber, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(handle_, &rate, &channels, &encoding);
            rate_ = static_cast<int>(rate);
            channels_ = channels;
            continue;
        }
        if (result == MPG123_NEED_MORE || result == MPG123_DONE)
            return Result::NeedMore;
        if (result != MPG123_OK)
            return Result::Failed;
        if (bytes == 0 || channels_ == 0)
            continue;
        samples = reinterpret_cast<const int16_t*>(audio);
        frames = bytes / (sizeof(int16_t) * static_cast<size_t>(channels_));
        return Result::Audio;
    }
}

int64_t Mp3Decoder::seek(int64_t frame, int64_t& inputOffset)
{
    if (!handle_)
        return -1;
    off_t input = 0;
    const off_t reached = mpg123_feedseek(handle_, static_cast<off_t>(frame), SEEK_SET, &input);
    inputOffset = input;
    return reached;
}

std::optional<Id3Text> Mp3Decoder::takeNewId3()
{
    if (!handle_ || !(mpg123_meta_check(handle_) & MPG123_NEW_ID3))
        return std::nullopt;
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    // Reading the tag clears its "new" mark.
    if (mpg123_id3(handle_, &v1, &v2) != MPG123_OK || v2 == nullptr)
        return std::nullopt;
    return Id3Text{textOf(v2->title), textOf(v2->artist)};
}

} // namespace vornel::audio
