#pragma once
// Shared pieces of the engine tests: the engine on an in-memory output, tone checks on the
// samples it renders, and bounded waits.
#include "playback/audio_library.h"
#include "playback/engine/memory_output.h"
#include "playback/engine/mp3_scanner.h"
#include "tests/support/mp3_fixture.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <thread>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vornel::test {

// Amplitude (of full scale 32767) of the frequency in one channel of interleaved stereo.
double toneAmplitude(const std::vector<int16_t>& stereo, int channel, double frequency, int rate = 44100);
// Root mean square of all samples.
double rms(const std::vector<int16_t>& samples);

// The bytes of a file kept in tests/engine/data (real-world inputs that once hung the
// engine); empty when it cannot be read.
std::string dataFile(const std::string& name);

// Scans the bytes fed in pieces of the given size, as they arrive from a stream, to the end.
audio::Mp3Scanner scanInPieces(const std::string& bytes, size_t piece);

// Polls until done() or the limit; returns done().
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the URL (flags as the player gives them unless told), failing the test on 0.
    HSTREAM open(const std::string& url, DWORD flags = BASS_STREAM_STATUS | BASS_STREAM_AUTOFREE | BASS_STREAM_PRESCAN);
    std::string serve(const std::string& path, const ToneMp3& tone);
    // Renders frames (any amount; the memory output is not real time).
    std::vector<int16_t> pull(int frames) { return output_->pull(frames); }
    // Renders until the stream stops or maxSeconds of output have been pulled.
    std::vector<int16_t> pullToEnd(HSTREAM stream, double maxSeconds = 30);
    // Waits until the whole file has arrived.
    void waitForDownload(HSTREAM stream);

    std::shared_ptr<audio::MemoryOutput> output_;
    ScriptedServer server_;
};

} // namespace vornel::test
