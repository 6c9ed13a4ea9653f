#include "tests/support/mp3_fixture.h"
#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace vornel::test {
namespace {

namespace fs = std::filesystem;

std::string kiloHertz(int rate)
{
    std::ostringstream text;
    text << rate / 1000.0;
    return text.str();
}

std::string encode(const ToneMp3& tone)
{
    const TempFolder folder("vornel-mp3");
    const std::string raw = folder.file("tone.raw");
    const std::string mp3 = folder.file("tone.mp3");
    writeText(raw, tonePcm(tone));
    const std::string command = "lame --quiet -r --signed --little-endian --bitwidth 16 -s " +
                                kiloHertz(tone.sampleRate) + " --resample " + kiloHertz(tone.sampleRate) + " -m " +
                                (tone.channels == 1 ? "m" : "j") + " --cbr -b " + std::to_string(tone.bitrateKbps) +
                                (tone.infoFrame ? "" : " -t") + " '" + raw + "' '" + mp3 + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    std::string bytes = status == 0 ? readText(mp3) : std::string();
    if (bytes.empty())
        throw std::runtime_error("lame failed: " + command);
    return bytes;
}

} // namespace

std::string tonePcm(const ToneMp3& tone)
{
    const auto frames = static_cast<size_t>(std::llround(tone.seconds * tone.sampleRate));
    std::string pcm(frames * static_cast<size_t>(tone.channels) * 2, '\0');
    const double step = 2.0 * M_PI * tone.frequency / tone.sampleRate;
    size_t at = 0;
    for (size_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<int16_t>(std::lround(std::sin(step * double(i)) * tone.amplitude * 32767.0));
        for (int c = 0; c < tone.channels; ++c) {
            pcm[at++] = static_cast<char>(sample & 0xFF);
            pcm[at++] = static_cast<char>((sample >> 8) & 0xFF);
        }
    }
    return pcm;
}

std::string makeToneMp3(const ToneMp3& tone)
{
    using Key = std::tuple<double, double, int, int, int, double, bool>;
    static std::mutex mutex;
    static std::map<Key, std::string> cache;
    const Key key{tone.frequency, tone.seconds,   tone.bitrateKbps, tone.sampleRate,
                  tone.channels,  tone.amplitude, tone.infoFrame};
    {
        std::lock_guard lock(mutex);
        if (const auto it = cache.find(key); it != cache.end())
            return it->second;
    }
    std::string bytes = encode(tone);
    std::lock_guard lock(mutex);
    return cache.emplace(key, std::move(bytes)).first->second;
}

std::string writeToneMp3File(const ToneMp3& tone, const std::string& fileName)
{
    const std::string path = makeFreshFolder("vornel-mp3") + "/" + fileName;
    writeText(path, makeToneMp3(tone));
    return path;
}

void removeToneMp3File(const std::string& path)
{
    std::error_code ignored;
    const fs::path file(path);
    fs::remove(file, ignored);
    fs::remove(file.parent_path(), ignored);
}

std::string id3v2Tag(const std::string& title, const std::string& artist)
{
    const auto syncsafe = [](size_t value) {
        std::string bytes;
        for (int shift : {21, 14, 7, 0})
            bytes.push_back(static_cast<char>((value >> shift) & 0x7F));
        return bytes;
    };
    std::string frames;
    for (const auto& [id, text] : {std::pair<std::string, std::string>{"TIT2", title}, {"TPE1", artist}}) {
        const std::string data = "\x03" + text; // 3: UTF-8
        frames += id + syncsafe(data.size()) + std::string(2, '\0') + data;
    }
    return std::string("ID3\x04\x00\x00", 6) + syncsafe(frames.size()) + frames;
}

} // namespace vornel::test
