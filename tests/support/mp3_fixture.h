#pragma once
// MP3 files of a pure tone for tests, made with the lame encoder from generated PCM.
//
//   std::string bytes = vornel::test::makeToneMp3({.frequency = 440, .seconds = 2});
//   server.addRoute("/tone.mp3", {bytes, "audio/mpeg"});
//
// Results are cached per process, so asking twice for the same tone costs nothing.
#include <string>

namespace vornel::test {

struct ToneMp3 {
    double frequency = 440.0;
    double seconds = 1.0;
    int bitrateKbps = 128; // constant bit rate
    int sampleRate = 44100;
    int channels = 2;
    double amplitude = 0.5; // of full scale
    bool infoFrame = true;  // false: no Xing/Info frame (lame -t), as from older encoders
};

// The MP3's bytes; throws std::runtime_error when lame fails.
std::string makeToneMp3(const ToneMp3& tone);
// The MP3 written to a file in a fresh temporary directory; returns its path. The caller
// may delete the file and its directory with removeToneMp3File.
std::string writeToneMp3File(const ToneMp3& tone, const std::string& fileName = "tone.mp3");
void removeToneMp3File(const std::string& path);

// The 16-bit PCM (interleaved, little-endian) that the MP3 was made from.
std::string tonePcm(const ToneMp3& tone);

// An ID3v2.4 tag with a UTF-8 title (TIT2) and artist (TPE1), to put before an MP3's frames.
std::string id3v2Tag(const std::string& title, const std::string& artist);

} // namespace vornel::test
