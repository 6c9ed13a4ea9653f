// Library set-up and release, handles, the end of a stream, overlapping streams, threads.
#include "playback/engine/audio_output.h"
#include "tests/engine/engine_test_support.h"

#include <future>

namespace vornel::test {
namespace {

using namespace std::chrono_literals;

TEST(EngineSetUp, VersionAndInitialisationErrors)
{
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
    EXPECT_EQ(BASS_StreamCreateURL("http://127.0.0.1:1/x.mp3", 0, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    audio::injectAudioOutput(std::make_shared<audio::MemoryOutput>(0, false));
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);

    auto output = std::make_shared<audio::MemoryOutput>();
    audio::injectAudioOutput(output);
    EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_TRUE(output->isOpen());
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, nullptr));
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(output->isOpen());
    audio::injectAudioOutput(nullptr);
}

class LifecycleTest : public EngineTest {};

TEST_F(LifecycleTest, CallsOnZeroFreedOrUnknownHandlesFailHarmlessly)
{
    const HSTREAM freed = open(serve("/t.mp3", {.seconds = 1}));
    ASSERT_NE(freed, 0u);
    ASSERT_TRUE(BASS_StreamFree(freed));
    for (const DWORD handle : {DWORD(0), freed, DWORD(0x7fff1234)}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_STOPPED);
        EXPECT_FALSE(BASS_StreamFree(handle));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_FALSE(BASS_ChannelPlay(handle, false));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_FALSE(BASS_ChannelPause(handle));
        EXPECT_FALSE(BASS_ChannelSetPosition(handle, 0, BASS_POS_BYTE));
        EXPECT_EQ(BASS_ChannelGetTags(handle, BASS_TAG_HTTP), nullptr);
        for (const DWORD mode :
             {BASS_FILEPOS_END, BASS_FILEPOS_BUFFER, BASS_FILEPOS_CONNECTED, BASS_FILEPOS_BLOCKFULL}) {
            EXPECT_EQ(BASS_StreamGetFilePosition(handle, mode), static_cast<QWORD>(-1));
            EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        }
        EXPECT_EQ(BASS_ChannelGetLength(handle, BASS_POS_BYTE), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_ChannelGetPosition(handle, BASS_POS_BYTE), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_ChannelSeconds2Bytes(handle, 1.0), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
}

TEST_F(LifecycleTest, HandlesAreNeverReused)
{
    const std::string url = serve("/t.mp3", {.seconds = 1});
    const HSTREAM first = open(url);
    BASS_StreamFree(first);
    const HSTREAM second = open(url);
    EXPECT_NE(second, first);
    BASS_Free();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    const HSTREAM third = open(url);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
}

TEST_F(LifecycleTest, AutoFreeStreamStaysQueryableForASecondAfterItsEnd)
{
    const HSTREAM stream = open(serve("/t.mp3", {.seconds = 1}));
    ASSERT_NE(stream, 0u);
    waitForDownload(stream);
    const QWORD length = BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    BASS_ChannelPlay(stream, false);
    pullToEnd(stream);
    const auto ended = std::chrono::steady_clock::now();
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    // A 15 ms position tick during the grace sees the end.
    while (std::chrono::steady_clock::now() - ended < 800ms) {
        ASSERT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), length);
        ASSERT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), length);
        std::this_thread::sleep_for(15ms);
    }
    EXPECT_TRUE(
        waitUntil([&] { return BASS_ChannelGetPosition(stream, BASS_POS_BYTE) == static_cast<QWORD>(-1); }, 5000ms));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(LifecycleTest, StreamWithoutAutoFreeStaysAfterItsEnd)
{
    const HSTREAM stream = open(serve("/t.mp3", {.seconds = 1}), BASS_STREAM_PRESCAN);
    BASS_ChannelPlay(stream, false);
    pullToEnd(stream);
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    // Playing again starts over.
    EXPECT_TRUE(BASS_ChannelPlay(stream, false));
    EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), 0u);
}

TEST_F(LifecycleTest, StreamsOpenedOnTwoThreadsOverlapAndMix)
{
    const std::string low = serve("/low.mp3", {.frequency = 440, .seconds = 2, .amplitude = 0.3});
    const std::string high = serve("/high.mp3", {.frequency = 1250, .seconds = 2, .amplitude = 0.3});
    auto openAndPlay = [](std::string url) {
        const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_AUTOFREE, nullptr, nullptr);
        BASS_ChannelPlay(stream, false);
        return stream;
    };
    auto first = std::async(std::launch::async, openAndPlay, low);
    auto second = std::async(std::launch::async, openAndPlay, high);
    const HSTREAM a = first.get(), b = second.get();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    pull(4096);
    const auto both = pull(8192);
    EXPECT_GT(toneAmplitude(both, 0, 440), 0.25 * 32767);
    EXPECT_GT(toneAmplitude(both, 1, 1250), 0.25 * 32767);
    BASS_StreamFree(a);
    const auto one = pull(8192);
    EXPECT_LT(toneAmplitude(one, 0, 440), 0.01 * 32767);
    EXPECT_GT(toneAmplitude(one, 0, 1250), 0.25 * 32767);
}

TEST_F(LifecycleTest, LoudStreamsTogetherClipInsteadOfWrapping)
{
    const std::string url = serve("/loud.mp3", {.frequency = 440, .seconds = 1, .amplitude = 0.9});
    const HSTREAM a = open(url), b = open(url);
    BASS_ChannelPlay(a, false);
    BASS_ChannelPlay(b, false);
    pull(4096);
    const auto samples = pull(4410);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 32767);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), -32768);
    // The two copies add up in phase: a wrapped sum would give a weak, distorted tone.
    EXPECT_GT(toneAmplitude(samples, 0, 440), 0.95 * 32767);
}

TEST_F(LifecycleTest, FreeDuringAnOpenMakesTheOpenFailAtOnce)
{
    server_.addConnection(ConnectionScript().expectHead().wait(8000ms));
    auto pending = std::async(std::launch::async, [&] {
        const HSTREAM stream = BASS_StreamCreateURL(server_.url("/hang.mp3").c_str(), 0, 0, nullptr, nullptr);
        return std::make_pair(stream, BASS_ErrorGetCode());
    });
    ASSERT_TRUE(waitUntil([&] { return server_.requestHeads().size() == 1; }));
    ASSERT_TRUE(BASS_Free());
    ASSERT_EQ(pending.wait_for(3s), std::future_status::ready);
    const auto [stream, error] = pending.get();
    EXPECT_EQ(stream, 0u);
    EXPECT_NE(error, BASS_OK);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)); // TearDown frees again
}

TEST_F(LifecycleTest, FreeWhileABlockDownloadWaitsForRoomDoesNotHang)
{
    const HSTREAM stream = open(serve("/big.mp3", {.seconds = 60}), BASS_STREAM_BLOCK | BASS_STREAM_AUTOFREE);
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(waitUntil([&] { return BASS_StreamGetFilePosition(stream, BASS_FILEPOS_BLOCKFULL) == 1; }));
    auto freeing = std::async(std::launch::async, [] { return BASS_Free(); });
    ASSERT_EQ(freeing.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(freeing.get());
    EXPECT_EQ(BASS_ChannelIsActive(stream), BASS_ACTIVE_STOPPED);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
}

TEST_F(LifecycleTest, LastErrorIsKeptPerThread)
{
    BASS_ChannelPlay(0, false);
    ASSERT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    std::async(std::launch::async, [] {
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
        BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    }).get();
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

} // namespace
} // namespace vornel::test
