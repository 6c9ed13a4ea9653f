#include "download/atomic_file.h"

#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vornel::download;
using namespace vornel::test;

namespace {

class WriteFileReplacingTest : public testing::Test {
protected:
    TempFolder folder;
};

TEST_F(WriteFileReplacingTest, CreatesANewFileWithTheBytes)
{
    const std::string bytes("ID3\0\xff\xfb binary", 14);
    writeFileReplacing(folder.file("Song.mp3"), bytes);
    EXPECT_EQ(readText(folder.file("Song.mp3")), bytes);
    EXPECT_EQ(entriesIn(folder.path()).size(), 1u);
}

TEST_F(WriteFileReplacingTest, NewFileGetsTheUsualModeNotOwnerOnly)
{
    const mode_t old = ::umask(022);
    writeFileReplacing(folder.file("Song.mp3"), "x");
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat(folder.file("Song.mp3").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(WriteFileReplacingTest, ReplacesAnExistingFile)
{
    writeText(folder.file("Song.mp3"), "an old and longer content");
    writeFileReplacing(folder.file("Song.mp3"), "new");
    EXPECT_EQ(readText(folder.file("Song.mp3")), "new");
    EXPECT_EQ(entriesIn(folder.path()).size(), 1u);
}

TEST_F(WriteFileReplacingTest, EmptyBytesGiveAnEmptyFile)
{
    writeFileReplacing(folder.file("Empty.mp3"), "");
    EXPECT_TRUE(std::filesystem::exists(folder.file("Empty.mp3")));
    EXPECT_EQ(std::filesystem::file_size(folder.file("Empty.mp3")), 0u);
}

TEST_F(WriteFileReplacingTest, MissingFolderThrowsAClearMessage)
{
    try {
        writeFileReplacing(folder.file("no/such/Song.mp3"), "x");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos) << error.what();
    }
    EXPECT_EQ(entriesIn(folder.path()).size(), 0u);
}

TEST_F(WriteFileReplacingTest, FolderInTheWayKeepsItAndLeavesNoTempFile)
{
    std::filesystem::create_directory(folder.file("Song.mp3"));
    writeText(folder.file("Song.mp3/inside"), "kept");
    EXPECT_THROW(writeFileReplacing(folder.file("Song.mp3"), "x"), std::runtime_error);
    EXPECT_EQ(readText(folder.file("Song.mp3/inside")), "kept");
    EXPECT_EQ(entriesIn(folder.path()).size(), 1u);
}

// A full disk, simulated with a file-size limit: writes past it fail with EFBIG once
// SIGXFSZ no longer kills the process. The limit would also hit the test runner, so the
// write runs in a child process that reports through its exit status.
enum ChildResult { kThrew = 10, kReturned = 11, kOtherError = 12 };

int writeUnderSizeLimit(const std::string& path, const std::string& bytes, rlim_t limit)
{
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &small);
        try {
            writeFileReplacing(path, bytes);
        } catch (const std::runtime_error& error) {
            const bool saysTooLarge = std::string(error.what()).find("too large") != std::string::npos;
            ::_exit(saysTooLarge ? kThrew : kOtherError);
        } catch (...) {
            ::_exit(kOtherError);
        }
        ::_exit(kReturned);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(WriteFileReplacingTest, DiskFullHalfWayKeepsTheOldFileAndLeavesNoTempFile)
{
    const std::string oldContent = "the good old recording";
    writeText(folder.file("Song.mp3"), oldContent);
    const std::string newContent(64 * 1024, 'n');

    EXPECT_EQ(writeUnderSizeLimit(folder.file("Song.mp3"), newContent, 4096), kThrew);

    EXPECT_EQ(readText(folder.file("Song.mp3")), oldContent);
    EXPECT_EQ(entriesIn(folder.path()).size(), 1u);
}

TEST_F(WriteFileReplacingTest, WriteWithinTheLimitSucceedsInTheChild)
{
    writeText(folder.file("Song.mp3"), "old");
    EXPECT_EQ(writeUnderSizeLimit(folder.file("Song.mp3"), std::string(100, 'n'), 4096), kReturned);
    EXPECT_EQ(readText(folder.file("Song.mp3")), std::string(100, 'n'));
}

} // namespace
