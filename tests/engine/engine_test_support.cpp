#include "tests/engine/engine_test_support.h"

#include "playback/engine/audio_output.h"
#include "tests/support/folder_files.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace vornel::test {

double toneAmplitude(const std::vector<int16_t>& stereo, int channel, double frequency, int rate)
{
    const size_t frames = stereo.size() / 2;
    if (frames == 0)
        return 0;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double s0 = stereo[2 * i + static_cast<size_t>(channel)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(frames);
}

double rms(const std::vector<int16_t>& samples)
{
    if (samples.empty())
        return 0;
    double sum = 0;
    for (int16_t s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

std::string dataFile(const std::string& name)
{
    return readText(std::string(VORNEL_ENGINE_TEST_DATA) + "/" + name);
}

audio::Mp3Scanner scanInPieces(const std::string& bytes, size_t piece)
{
    audio::Mp3Scanner scanner;
    for (size_t at = 0; at < bytes.size(); at += piece)
        scanner.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    scanner.finish();
    return scanner;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void EngineTest::SetUp()
{
    output_ = std::make_shared<audio::MemoryOutput>();
    audio::injectAudioOutput(output_);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
}

void EngineTest::TearDown()
{
    BASS_Free();
    audio::injectAudioOutput(nullptr);
}

HSTREAM EngineTest::open(const std::string& url, DWORD flags)
{
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, flags, nullptr, nullptr);
    EXPECT_NE(stream, 0u) << "open failed with " << BASS_ErrorGetCode();
    return stream;
}

std::string EngineTest::serve(const std::string& path, const ToneMp3& tone)
{
    server_.addRoute(path, Route{makeToneMp3(tone), "audio/mpeg"});
    return server_.url(path);
}

std::vector<int16_t> EngineTest::pullToEnd(HSTREAM stream, double maxSeconds)
{
    std::vector<int16_t> all;
    const auto limit = static_cast<size_t>(maxSeconds * 44100) * 2;
    size_t playedSamples = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (DWORD state; (state = BASS_ChannelIsActive(stream)) != BASS_ACTIVE_STOPPED && playedSamples < limit &&
                      std::chrono::steady_clock::now() < deadline;) {
        const bool stalled = state == BASS_ACTIVE_STALLED;
        if (stalled) // waiting for the server: pull a little now and then until data comes
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto piece = pull(stalled ? 256 : 4096);
        all.insert(all.end(), piece.begin(), piece.end());
        if (!stalled)
            playedSamples += piece.size();
    }
    return all;
}

void EngineTest::waitForDownload(HSTREAM stream)
{
    ASSERT_TRUE(waitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0; }));
}

} // namespace vornel::test
