// The downloaded bytes of a stream: a whole file kept with only its first part in memory and
// the rest in an unlinked temporary file, and what happens when that file cannot be written.
#include "playback/engine/byte_store.h"
#include "tests/download/pattern_bytes.h"
#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>

namespace vornel::audio {
using vornel::test::entriesIn;
using vornel::test::TempFolder;

namespace {

constexpr size_t kMemory = 64 * 1024;
constexpr size_t kLimit = 1024 * 1024;

// Appends the pattern's bytes [from, to) in pieces of the given size.
bool appendPattern(ByteStore& store, size_t from, size_t to, size_t piece)
{
    const std::string bytes = patternBytes(to);
    for (size_t at = from; at < to; at += piece) {
        if (!store.append(bytes.data() + at, std::min(piece, to - at)))
            return false;
    }
    return true;
}

std::string readAll(ByteStore& store, size_t piece)
{
    std::string all;
    std::string buffer(piece, '\0');
    while (size_t n = store.read(buffer.data(), buffer.size()))
        all.append(buffer.data(), n);
    return all;
}

TEST(ByteStore, KeepsAWholeFileWithOnlyItsFirstPartInMemory)
{
    TempFolder folder;
    // Pieces that end exactly at the memory's end and ones that straddle it.
    for (const size_t piece : {size_t{1000}, size_t{4096}, size_t{65536}, size_t{100000}}) {
        ByteStore store(kLimit, kMemory, folder.path());
        ASSERT_TRUE(appendPattern(store, 0, 5 * kMemory + 123, piece)) << piece;
        EXPECT_EQ(store.end(), static_cast<int64_t>(5 * kMemory + 123));
        EXPECT_LE(store.memoryBytes(), kMemory) << piece;
        EXPECT_EQ(entriesIn(folder.path()).size(), 0u) << "the file has no name";

        EXPECT_EQ(readAll(store, 7000), patternBytes(5 * kMemory + 123)) << piece;
        // Back into the file part, and into memory, as seeks do; peeks across the boundary.
        for (const int64_t at : {int64_t{3 * kMemory + 5}, int64_t{10}, int64_t{kMemory - 3}}) {
            ASSERT_TRUE(store.setReadOffset(at));
            char bytes[8];
            ASSERT_EQ(store.read(bytes, sizeof bytes), sizeof bytes);
            EXPECT_EQ(std::string(bytes, sizeof bytes), patternBytes(at + 8).substr(at)) << at;
            EXPECT_EQ(store.peek(at, 8), patternBytes(at + 8).substr(at)) << at;
        }
        EXPECT_FALSE(store.setReadOffset(store.end() + 1));
    }
}

TEST(ByteStore, MemoryNeverGrowsPastItsLimitWhateverWasReserved)
{
    TempFolder folder;
    ByteStore store(kLimit, kMemory, folder.path());
    store.reserve(10 * kMemory);
    EXPECT_LE(store.memoryBytes(), kMemory);
    ASSERT_TRUE(appendPattern(store, 0, kMemory - 1, 3000));
    ASSERT_TRUE(appendPattern(store, kMemory - 1, 2 * kMemory, 3000));
    EXPECT_LE(store.memoryBytes(), kMemory);
}

TEST(ByteStore, PastItsLimitItDropsWhatHasBeenRead)
{
    TempFolder folder;
    ByteStore store(4 * kMemory, kMemory, folder.path());
    ASSERT_TRUE(appendPattern(store, 0, 4 * kMemory, 8192));
    EXPECT_EQ(store.room(), 0u) << "nothing read yet: nothing can go";
    ASSERT_TRUE(store.setReadOffset(2 * kMemory + 100));
    EXPECT_EQ(store.room(), 2 * kMemory + 100);
    EXPECT_EQ(store.firstKept(), static_cast<int64_t>(2 * kMemory + 100));
    EXPECT_EQ(store.memoryBytes(), 0u) << "the memory part has been read and dropped";
    EXPECT_FALSE(store.setReadOffset(10));
    ASSERT_TRUE(appendPattern(store, 4 * kMemory, 5 * kMemory, 8192));
    EXPECT_EQ(readAll(store, 5000), patternBytes(5 * kMemory).substr(2 * kMemory + 100));
}

TEST(ByteStore, WithNowhereToPutTheRestItKeepsWhatItHasAndTakesNothingMore)
{
    ByteStore store(kLimit, kMemory, "/nonexistent/folder");
    ASSERT_TRUE(appendPattern(store, 0, kMemory - 10, 5000));
    EXPECT_FALSE(store.append(patternBytes(kMemory + 90).data() + kMemory - 10, 100));
    EXPECT_TRUE(store.failed());
    EXPECT_EQ(store.end(), static_cast<int64_t>(kMemory - 10)) << "none of the refused bytes is kept";
    EXPECT_FALSE(store.append("x", 1));
    EXPECT_EQ(readAll(store, 4096), patternBytes(kMemory - 10));
}

// The file system refuses to grow the file past a size, as a full disk would: the write fails
// (the program is not killed by the signal such a write raises).
TEST(ByteStore, AFileThatCannotGrowFailsTheAppendAndKeepsWhatWasWritten)
{
    TempFolder folder;
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 3 * kMemory;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ByteStore store(kLimit, kMemory, folder.path());
    const bool appended = appendPattern(store, 0, 8 * kMemory, 8192);
    setrlimit(RLIMIT_FSIZE, &previous);

    EXPECT_FALSE(appended);
    EXPECT_TRUE(store.failed());
    EXPECT_EQ(store.end(), static_cast<int64_t>(4 * kMemory)) << "the memory part and three in the file";
    EXPECT_EQ(readAll(store, 10000), patternBytes(4 * kMemory));
}

TEST(ByteStore, ClearingStartsOverWithoutTheFile)
{
    TempFolder folder;
    ByteStore store(kLimit, kMemory, "/nonexistent/folder");
    EXPECT_FALSE(appendPattern(store, 0, 2 * kMemory, 4096));
    store.clear();
    EXPECT_FALSE(store.failed());
    EXPECT_EQ(store.end(), 0);
    ASSERT_TRUE(appendPattern(store, 0, kMemory, 4096));
    EXPECT_EQ(readAll(store, 4096), patternBytes(kMemory));
}

TEST(SpillFile, GoesToTheCacheFolderWhenItNamesOneElseToTmp)
{
    TempFolder cache;
    const char* previous = std::getenv("XDG_CACHE_HOME");
    const std::string kept = previous ? previous : "";
    const std::pair<const char*, std::string> cases[] = {
        {cache.path().c_str(), cache.path()}, {nullptr, "/tmp"}, {"/nonexistent/cache", "/tmp"}, {"relative", "/tmp"}};
    for (const auto& [value, folder] : cases) {
        if (value)
            setenv("XDG_CACHE_HOME", value, 1);
        else
            unsetenv("XDG_CACHE_HOME");
        EXPECT_EQ(SpillFile::defaultFolder(), folder) << (value ? value : "unset");
    }
    if (previous)
        setenv("XDG_CACHE_HOME", kept.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
}

TEST(ByteStore, ABoundedStoreKeepsOnlyItsLimitInMemory)
{
    ByteStore store(kMemory);
    ASSERT_TRUE(appendPattern(store, 0, kMemory, 4096));
    EXPECT_EQ(store.room(), 0u);
    std::string buffer(kMemory / 2, '\0');
    EXPECT_EQ(store.read(buffer.data(), buffer.size()), kMemory / 2);
    EXPECT_EQ(store.room(), kMemory / 2);
    ASSERT_TRUE(appendPattern(store, kMemory, kMemory + kMemory / 2, 4096));
    EXPECT_EQ(readAll(store, 5000), patternBytes(kMemory + kMemory / 2).substr(kMemory / 2));
    EXPECT_LE(store.memoryBytes(), 2 * kMemory);
}

} // namespace
} // namespace vornel::audio
