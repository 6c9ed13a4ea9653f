// A track download written to disk as it arrives: bounded memory, and a saved file that
// appears whole or not at all.
#include "download/track_download.h"
#include "tests/support/sanitizer_build.h"

#include "pattern_bytes.h"
#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/peak_memory.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vornel::download;
using namespace vornel::test;
using vornel::http::ClientSettings;
using vornel::http::HttpClient;

namespace {

std::string lengthHead(size_t length, const std::string& status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(length) +
           "\r\n\r\n";
}

const std::string kOldContent = "the good old recording";

class TrackDownloadTest : public testing::Test {
protected:
    DownloadOutcome download()
    {
        return downloadTrackFile(client, server.url("/t.mp3"), song(), [this] {
            ++pathRequests;
            return song();
        });
    }
    std::string song() const { return folder.file("Song.mp3"); }

    TempFolder folder;
    ScriptedServer server;
    HttpClient client{ClientSettings::configured()};
    int pathRequests = 0;
};

TEST_F(TrackDownloadTest, LargeDownloadGoesToDiskWithBoundedMemory)
{
    const size_t size = 64 * 1024 * 1024;
    writeText(song(), kOldContent);
    ConnectionScript script;
    script.expectHead().send(lengthHead(size)).send(patternBytes(size));
    server.addConnection(std::move(script)); // one copy of the body in memory, held by the server
    bool untouchedDuringTransfer = true;
    client.OnWork = [&](vornel::http::WorkMode, int64_t) {
        untouchedDuringTransfer = untouchedDuringTransfer && readText(song()) == kOldContent && pathRequests == 0;
    };

    restartPeakMemory();
    const long before = statusKilobytes("VmRSS");
    EXPECT_EQ(download(), DownloadOutcome::Saved);
    const long grown = peakKilobytes() - before;

    std::printf("peak memory grew by %ld KiB for a %zu KiB download\n", grown, size / 1024);
    if (vornel::test::kSanitizerBuild)
        std::printf("peak not checked: the sanitizer keeps freed memory and shadow memory of its own\n");
    else
        EXPECT_LT(grown, static_cast<long>(size / 1024 / 8));
    EXPECT_TRUE(untouchedDuringTransfer) << "the target and its folder are taken once the bytes are in";
    EXPECT_EQ(pathRequests, 1);
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"Song.mp3"});
    EXPECT_TRUE(fileHoldsPattern(song(), size));
}

struct BrokenTransferCase {
    std::string label;
    ConnectionScript script;
    std::optional<DownloadOutcome> outcome; // nothing: the download throws
};

std::ostream& operator<<(std::ostream& out, const BrokenTransferCase& c)
{
    return out << c.label;
}

class BrokenTransfer : public TrackDownloadTest, public testing::WithParamInterface<BrokenTransferCase> {};

TEST_P(BrokenTransfer, LeavesTheOldFileAndNothingElse)
{
    writeText(song(), kOldContent);
    server.addConnection(GetParam().script);
    std::optional<DownloadOutcome> outcome;
    try {
        outcome = download();
    } catch (const std::exception&) {}
    EXPECT_EQ(outcome, GetParam().outcome);
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"Song.mp3"});
    EXPECT_EQ(readText(song()), kOldContent);
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Download, BrokenTransfer,
    testing::Values(
        BrokenTransferCase{"ServerClosesEarly",
                           ConnectionScript().expectHead().send(lengthHead(1 << 20)).send(patternBytes(300000)).close(),
                           DownloadOutcome::CutShort},
        BrokenTransferCase{"ConnectionReset",
                           ConnectionScript()
                               .expectHead()
                               .send(lengthHead(1 << 20))
                               .send(patternBytes(300000))
                               .wait(Millis(50))
                               .reset(),
                           std::nullopt},
        BrokenTransferCase{"ChunkedBodyCutOff",
                           ConnectionScript()
                               .expectHead()
                               .send(kChunkedHead + "10000\r\n" + patternBytes(65536) + "\r\n10000\r\nabc")
                               .close(),
                           std::nullopt},
        BrokenTransferCase{"ErrorStatus",
                           ConnectionScript().expectHead().send(lengthHead(9, "404 Not Found") + "not found"),
                           DownloadOutcome::ErrorStatus}),
    [](const testing::TestParamInfo<BrokenTransferCase>& test) { return test.param.label; });

// A full disk, simulated with a file-size limit: writes past it fail with EFBIG once SIGXFSZ
// no longer kills the process. The limit would also hit the test runner, so the download runs
// in a child process that reports through its exit status.
enum ChildResult { kThrew = 10, kReturned = 11 };

TEST_F(TrackDownloadTest, DiskFullHalfWayKeepsTheOldFileAndLeavesNothingElse)
{
    writeText(song(), kOldContent);
    const size_t size = 1 << 20;
    server.addConnection(ConnectionScript().expectHead().send(lengthHead(size)).send(patternBytes(size)));
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &small);
        try {
            download();
        } catch (...) {
            ::_exit(kThrew);
        }
        ::_exit(kReturned);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kThrew);
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"Song.mp3"});
    EXPECT_EQ(readText(song()), kOldContent);
}

TEST_F(TrackDownloadTest, ARedirectKeepsOnlyTheFinalBody)
{
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: " + server.url("/final.mp3") +
                              "\r\nContent-Length: 20\r\n\r\nthis is not the song";
    server.addConnection(ConnectionScript().expectHead().send(moved).expectHead().send(lengthHead(5) + "track"));
    EXPECT_EQ(download(), DownloadOutcome::Saved);
    EXPECT_EQ(readText(song()), "track");
}

TEST_F(TrackDownloadTest, AMissingFolderIsMadeWithItsParentsBeforeTheSave)
{
    server.addConnection(ConnectionScript().expectHead().send(lengthHead(5) + "track"));
    const std::string fresh = folder.file("home/Downloads/Song.mp3");
    EXPECT_EQ(downloadTrackFile(client, server.url("/t.mp3"), fresh, [&] { return fresh; }), DownloadOutcome::Saved);
    EXPECT_EQ(readText(fresh), "track");
    EXPECT_EQ(entriesIn(folder.file("home/Downloads")), std::vector<std::string>{"Song.mp3"});
}

TEST_F(TrackDownloadTest, TheFolderIsTakenAfterTheTransfer)
{
    server.addConnection(ConnectionScript().expectHead().send(lengthHead(5) + "track"));
    const std::string later = folder.file("chosen later/Song.mp3");
    const DownloadOutcome outcome = downloadTrackFile(client, server.url("/t.mp3"), folder.file("gone/Song.mp3"), [&] {
        std::filesystem::create_directory(folder.file("chosen later"));
        return later;
    });
    EXPECT_EQ(outcome, DownloadOutcome::Saved);
    EXPECT_EQ(readText(later), "track");
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"chosen later"});
}

struct WholeCase {
    int64_t received;
    int64_t contentLength;
    const char* transferEncoding;
    bool whole;
};

class BodyCameWhole : public testing::TestWithParam<WholeCase> {};

TEST_P(BodyCameWhole, ComparesWithTheAnnouncedLength)
{
    const WholeCase& c = GetParam();
    EXPECT_EQ(bodyCameWhole(c.received, c.contentLength, c.transferEncoding), c.whole);
}

INSTANTIATE_TEST_SUITE_P(Download, BodyCameWhole,
                         testing::Values(WholeCase{1000, 1000, "", true}, WholeCase{999, 1000, "", false},
                                         WholeCase{0, 0, "", true}, WholeCase{5, -1, "", true},
                                         WholeCase{5, 1000, "Chunked", true}));

} // namespace
