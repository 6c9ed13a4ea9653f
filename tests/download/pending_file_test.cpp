// The file a download is written into: written at its position, cut back on request, and
// put in place of its target whole or not at all.
#include "download/pending_file.h"

#include "pattern_bytes.h"
#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace vornel::download;
using namespace vornel::test;

namespace {

class PendingFileTest : public testing::Test {
protected:
    TempFolder folder;
};

struct StreamStep {
    std::string write;     // written at the current position ...
    int64_t truncate = -1; // ... then, when not negative, the size cut to
};

struct StreamCase {
    std::string label;
    std::vector<StreamStep> steps;
    int64_t position;
    std::string content;
};

std::ostream& operator<<(std::ostream& out, const StreamCase& c)
{
    return out << c.label;
}

class PendingFileStream : public testing::TestWithParam<StreamCase> {};

TEST_P(PendingFileStream, WritesAtThePositionAndCutsBack)
{
    TempFolder folder;
    PendingFile file(folder.path());
    for (const StreamStep& step : GetParam().steps) {
        file.write(step.write.data(), step.write.size());
        if (step.truncate >= 0)
            file.truncate(step.truncate);
        file.reserve(int64_t{1} << 40); // only a hint: nothing is claimed
    }
    EXPECT_EQ(file.position(), GetParam().position);
    file.saveAs(folder.file("out.mp3"));
    EXPECT_EQ(readText(folder.file("out.mp3")), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(Download, PendingFileStream,
                         testing::Values(StreamCase{"Nothing", {}, 0, ""},
                                         StreamCase{"Appends", {{"ab"}, {"cd"}}, 4, "abcd"},
                                         StreamCase{"CutBackThenWrite", {{"abcdef", 2}, {"XY"}}, 4, "abXY"},
                                         StreamCase{"CutToNothing", {{"redirect body", 0}, {"song"}}, 4, "song"},
                                         StreamCase{"GrowByTruncate", {{"ab", 4}}, 4, std::string("ab\0\0", 4)}),
                         [](const testing::TestParamInfo<StreamCase>& test) { return test.param.label; });

TEST_F(PendingFileTest, SavesIntoAnotherFolderAndKeepsTheReplacedMode)
{
    writeText(folder.file("elsewhere/Song.mp3"), "old");
    ::chmod(folder.file("elsewhere/Song.mp3").c_str(), 0640);
    PendingFile file(folder.path());
    file.write("new", 3);
    file.saveAs(folder.file("elsewhere/Song.mp3"));
    EXPECT_EQ(readText(folder.file("elsewhere/Song.mp3")), "new");
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"elsewhere"});
    EXPECT_EQ(entriesIn(folder.file("elsewhere")), std::vector<std::string>{"Song.mp3"});
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("elsewhere/Song.mp3").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// The folder field may name a folder on another file system once the transfer is over.
TEST_F(PendingFileTest, SavesAcrossFileSystemsByCopying)
{
    const std::string otherSystem = "/dev/shm";
    struct stat here {
    }, there{};
    if (::stat(folder.path().c_str(), &here) != 0 || ::stat(otherSystem.c_str(), &there) != 0 ||
        here.st_dev == there.st_dev || ::access(otherSystem.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const size_t size = 3 * 1024 * 1024 + 5;
    PendingFile file(otherSystem);
    const std::string bytes = patternBytes(size);
    file.write(bytes.data(), bytes.size());
    file.saveAs(folder.file("Song.mp3"));
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"Song.mp3"});
    EXPECT_TRUE(fileHoldsPattern(folder.file("Song.mp3"), size));
}

TEST_F(PendingFileTest, SaveFailureLeavesTheFolderInTheWayAlone)
{
    std::filesystem::create_directory(folder.file("Song.mp3"));
    PendingFile file(folder.path());
    file.write("x", 1);
    EXPECT_THROW(file.saveAs(folder.file("Song.mp3")), std::runtime_error);
    EXPECT_EQ(entriesIn(folder.path()), std::vector<std::string>{"Song.mp3"});
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("Song.mp3")));
}

TEST(OpenPendingFileFor, FallsBackToTheTemporaryFolderWhenTheTargetFolderIsMissing)
{
    TempFolder folder;
    const std::unique_ptr<PendingFile> file = openPendingFileFor(folder.file("missing/Song.mp3"));
    file->write("song", 4);
    std::filesystem::create_directory(folder.file("missing")); // the user fixes the folder meanwhile
    file->saveAs(folder.file("missing/Song.mp3"));
    EXPECT_EQ(readText(folder.file("missing/Song.mp3")), "song");
}

} // namespace
