// The stream worker against the real engine (dummy audio device) and loopback servers.
#include "playback/player_notify.h"
#include "playback/stream_worker.h"
#include "tests/support/mp3_fixture.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace vornel::playback;
using vornel::test::ConnectionScript;
using vornel::test::Route;
using vornel::test::ScriptedServer;
using vornel::test::ToneMp3;

namespace {
struct Report {
    uint32_t code;
    intptr_t number;
    std::string text;
    std::thread::id thread;
};

bool carriesText(uint32_t code)
{
    return code == PN_BITRATE || code == PN_HTTP_STATUS;
}

// Records every report; a PN_PLAYING value is read as a text when it is not 0.
class ReportLog {
public:
    void install()
    {
        setNotifyWindow([this](uint32_t code, intptr_t value) { record(code, value); });
    }

    void record(uint32_t code, intptr_t value)
    {
        Report report{code, value, {}, std::this_thread::get_id()};
        if ((carriesText(code) || code == PN_PLAYING) && value != 0)
            report.text = reinterpret_cast<const char*>(value);
        std::function<void(const Report&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(report);
            hook = hook_;
            changed_.notify_all();
        }
        if (hook)
            hook(report);
    }

    std::vector<Report> reports() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

    bool waitFor(const std::function<bool(const Report&)>& match, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const Report& report : reports_)
                if (match(report))
                    return true;
            return false;
        });
    }

    void setHook(std::function<void(const Report&)> hook)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
    std::function<void(const Report&)> hook_;
};

std::vector<uint32_t> codesOf(const std::vector<Report>& reports)
{
    std::vector<uint32_t> codes;
    for (const Report& report : reports)
        codes.push_back(report.code);
    return codes;
}

// Runs StreamWorker on a thread of its own and waits (bounded) for its end.
bool runWorker(const std::string& url, std::chrono::seconds limit = std::chrono::seconds(20))
{
    std::packaged_task<void()> task([url] { StreamWorker(url); });
    std::future<void> done = task.get_future();
    std::thread(std::move(task)).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

std::string mp3Reply(const std::string& body, size_t announcedLength, const std::string& extra = "")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(announcedLength) +
           "\r\n" + extra + "\r\n" + body;
}

class StreamWorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(BASS_Init(-1, 44100, 0, nullptr, nullptr), 0) << BASS_ErrorGetCode(); }
    static void TearDownTestSuite() { BASS_Free(); }

    void SetUp() override
    {
        useBlocks = false;
        log.install();
    }
    void TearDown() override
    {
        setNotifyWindow({});
        BASS_StreamFree(currentStream());
    }

    ReportLog log;
    ScriptedServer server;
};
} // namespace

TEST_F(StreamWorkerTest, ReportsConnectingStatusBufferingAndPlayingInOrder)
{
    server.addRoute("/tone.mp3", Route{vornel::test::makeToneMp3({.seconds = 3}), "audio/mpeg"});
    ASSERT_TRUE(runWorker(server.url("/tone.mp3")));
    const std::vector<Report> reports = log.reports();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front().code, PN_CONNECTING);
    EXPECT_EQ(reports[1].code, PN_HTTP_STATUS);
    EXPECT_EQ(reports[1].text.rfind("HTTP/1.1 200 OK", 0), 0u) << reports[1].text;
    EXPECT_EQ(reports.back().code, PN_PLAYING);
    EXPECT_EQ(reports.back().number, 0);
    for (size_t i = 2; i + 1 < reports.size(); ++i)
        EXPECT_EQ(reports[i].code, PN_BUFFERING) << i;
    EXPECT_NE(currentStream(), 0u);
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
}

TEST_F(StreamWorkerTest, BuffersUntilMoreThanThreeQuartersArrived)
{
    const std::string body = vornel::test::makeToneMp3({.seconds = 4});
    const size_t piece = body.size() / 40 + 1;
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(mp3Reply("", body.size()))
                             .drip(body, piece, std::chrono::milliseconds(30)));
    ASSERT_TRUE(runWorker(server.url("/slow.mp3")));
    std::vector<uint32_t> percents;
    for (const Report& report : log.reports())
        if (report.code == PN_BUFFERING)
            percents.push_back(static_cast<uint32_t>(report.number));
    std::string seen;
    for (uint32_t p : percents)
        seen += std::to_string(p) + " ";
    ASSERT_GE(percents.size(), 2u) << "the drip takes more than one pass: " << seen;
    for (size_t i = 0; i + 1 < percents.size(); ++i)
        EXPECT_LE(percents[i], 75u) << "pass " << i << ": " << seen;
    EXPECT_GE(percents.back(), 76u);
    EXPECT_EQ(log.reports().back().code, PN_PLAYING);
}

TEST_F(StreamWorkerTest, DownloadEndingEarlyLeavesTheLoopWithItsLastPercentage)
{
    const std::string body = vornel::test::makeToneMp3({.seconds = 4});
    const std::string part = body.substr(0, body.size() * 3 / 10);
    server.addConnection(
        ConnectionScript().expectHead().send(mp3Reply(part, body.size())).wait(std::chrono::milliseconds(200)).close());
    ASSERT_TRUE(runWorker(server.url("/cut.mp3")));
    const std::vector<Report> reports = log.reports();
    ASSERT_GE(reports.size(), 2u);
    const Report& lastBuffering = reports[reports.size() - 2];
    ASSERT_EQ(lastBuffering.code, PN_BUFFERING);
    EXPECT_LE(lastBuffering.number, 31);
    EXPECT_EQ(reports.back().code, PN_PLAYING);
}

TEST_F(StreamWorkerTest, NameAndBitrateLinesAreReportedByteExact)
{
    const std::string body = vornel::test::makeToneMp3({.seconds = 2});
    server.addConnection(ConnectionScript().expectHead().send(mp3Reply(
        body, body.size(), "icy-name:\r\nicy-br:128\r\nICY-NAME:ignored\r\nicy-br: 64\r\nicy-name:Night Radio\r\n")));
    ASSERT_TRUE(runWorker(server.url("/tags.mp3")));
    std::vector<std::pair<uint32_t, std::string>> tagReports;
    const std::vector<Report> reports = log.reports();
    for (size_t i = 0; i + 1 < reports.size(); ++i)
        if (reports[i].code == PN_PLAYING || reports[i].code == PN_BITRATE)
            tagReports.emplace_back(reports[i].code, reports[i].text);
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {PN_PLAYING, ""}, {PN_BITRATE, "bitrate: 128"}, {PN_BITRATE, "bitrate:  64"}, {PN_PLAYING, "Night Radio"}};
    EXPECT_EQ(tagReports, expected);
    EXPECT_EQ(reports.back().code, PN_PLAYING);
    EXPECT_EQ(reports.back().number, 0);
}

TEST_F(StreamWorkerTest, EmptyUrlFailsToOpenWithAnErrorCode)
{
    ASSERT_TRUE(runWorker(""));
    const std::vector<Report> reports = log.reports();
    EXPECT_EQ(codesOf(reports), (std::vector<uint32_t>{PN_CONNECTING, PN_OPEN_FAILED}));
    EXPECT_NE(reports.back().number, 0);
    EXPECT_EQ(currentStream(), 0u);
}

TEST_F(StreamWorkerTest, MissingFileReportsItsStatusLineThenTheFailure)
{
    ASSERT_TRUE(runWorker(server.url("/missing.mp3")));
    const std::vector<Report> reports = log.reports();
    ASSERT_EQ(codesOf(reports), (std::vector<uint32_t>{PN_CONNECTING, PN_HTTP_STATUS, PN_OPEN_FAILED}));
    EXPECT_NE(reports[1].text.find("404"), std::string::npos) << reports[1].text;
}

TEST_F(StreamWorkerTest, NewerWorkerOvertakesOneThatBuffers)
{
    const std::string body = vornel::test::makeToneMp3({.seconds = 4});
    server.addConnection(ConnectionScript()
                             .expectHead()
                             .send(mp3Reply("", body.size()))
                             .drip(body, body.size() / 50 + 1, std::chrono::milliseconds(40)));
    server.addRoute("/fast.mp3", Route{vornel::test::makeToneMp3({.frequency = 880, .seconds = 3}), "audio/mpeg"});

    std::thread::id firstThread;
    HSTREAM firstStream = 0;
    std::promise<void> overtaken;
    bool started = false;
    // Inside the first worker's first buffering report, a second worker takes over.
    log.setHook([&](const Report& report) {
        if (report.code != PN_BUFFERING || started)
            return;
        started = true;
        firstThread = report.thread;
        firstStream = currentStream();
        std::thread([&] {
            StreamWorker(server.url("/fast.mp3"));
            overtaken.set_value();
        }).detach();
        log.waitFor([&](const Report& r) { return r.code == PN_CONNECTING && r.thread != firstThread; },
                    std::chrono::seconds(10));
    });
    ASSERT_TRUE(runWorker(server.url("/slow.mp3")));
    ASSERT_EQ(overtaken.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);

    const std::vector<Report> reports = log.reports();
    size_t firstReportsAfterTakeOver = 0;
    bool takenOver = false;
    for (const Report& report : reports) {
        if (report.code == PN_CONNECTING && report.thread != firstThread)
            takenOver = true;
        else if (takenOver && report.thread == firstThread)
            ++firstReportsAfterTakeOver;
    }
    EXPECT_TRUE(takenOver);
    EXPECT_EQ(firstReportsAfterTakeOver, 0u);
    ASSERT_NE(firstStream, 0u);
    EXPECT_EQ(BASS_ChannelIsActive(firstStream), BASS_ACTIVE_STOPPED) << "the overtaken stream is freed";
    EXPECT_NE(currentStream(), firstStream);
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
    EXPECT_EQ(reports.back().code, PN_PLAYING);
    EXPECT_NE(reports.back().thread, firstThread);
}

TEST_F(StreamWorkerTest, StatusOfAnOvertakenOpenIsSilent)
{
    const std::string body = vornel::test::makeToneMp3({.seconds = 2});
    server.addConnection(
        ConnectionScript().expectHead().wait(std::chrono::milliseconds(600)).send(mp3Reply(body, body.size())));
    ScriptedServer fast;
    fast.addRoute("/fast.mp3", Route{body, "audio/mpeg"});

    std::packaged_task<void()> slow([&] { StreamWorker(server.url("/late.mp3")); });
    std::future<void> slowDone = slow.get_future();
    std::thread slowThread(std::move(slow));
    const std::thread::id slowId = slowThread.get_id();
    slowThread.detach();
    ASSERT_TRUE(log.waitFor([&](const Report& r) { return r.code == PN_CONNECTING; }, std::chrono::seconds(10)));
    ASSERT_TRUE(runWorker(fast.url("/fast.mp3")));
    ASSERT_EQ(slowDone.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    for (const Report& report : log.reports()) {
        if (report.thread == slowId) {
            EXPECT_EQ(report.code, PN_CONNECTING) << "the overtaken worker reported " << report.code;
        }
    }
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
}

TEST_F(StreamWorkerTest, BlockModeStartsAlthoughItsBufferHoldsLittleOfTheFile)
{
    useBlocks = true;
    server.addRoute("/long.mp3", Route{vornel::test::makeToneMp3({.seconds = 120, .bitrateKbps = 320}), "audio/mpeg"});
    ASSERT_TRUE(runWorker(server.url("/long.mp3"), std::chrono::seconds(30))) << "the buffering loop ended";
    EXPECT_EQ(log.reports().back().code, PN_PLAYING);
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
}

TEST_F(StreamWorkerTest, AStreamWithoutALengthSkipsBufferingAndPlays)
{
    Route route{vornel::test::makeToneMp3({.seconds = 2}), "audio/mpeg"};
    route.lengthFramed = false; // no Content-Length: the total reads as the failure value
    server.addRoute("/endless.mp3", route);
    ASSERT_TRUE(runWorker(server.url("/endless.mp3")));
    const std::vector<Report> reports = log.reports();
    std::vector<uint32_t> codes = codesOf(reports);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), PN_BUFFERING), 0);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().code, PN_PLAYING);
    EXPECT_EQ(reports.back().number, 0);
}

TEST_F(StreamWorkerTest, WorkerStartedFromAStatusCallOvertakesBeforeItsThreadRuns)
{
    server.addRoute("/next.mp3", Route{vornel::test::makeToneMp3({.seconds = 2}), "audio/mpeg"});
    // The next worker's thread is held back until the old worker has ended, the order
    // in which the scheduler may well run them.
    std::function<void()> heldWorker;
    setWorkerLauncher([&](std::function<void()> work) { heldWorker = std::move(work); });
    log.setHook([&](const Report& report) {
        if (report.code == PN_HTTP_STATUS)
            startStreamWorker(server.url("/next.mp3")); // as the window's "404" reaction does
    });
    ASSERT_TRUE(runWorker(server.url("/missing.mp3")));
    setWorkerLauncher({});
    log.setHook({});

    EXPECT_EQ(codesOf(log.reports()), (std::vector<uint32_t>{PN_CONNECTING, PN_HTTP_STATUS}))
        << "the overtaken worker reports no failed open";
    ASSERT_TRUE(heldWorker);
    std::thread(heldWorker).detach();
    ASSERT_TRUE(log.waitFor([](const Report& r) { return r.code == PN_PLAYING; }, std::chrono::seconds(20)));
    EXPECT_EQ(BASS_ChannelIsActive(currentStream()), BASS_ACTIVE_PLAYING);
}
