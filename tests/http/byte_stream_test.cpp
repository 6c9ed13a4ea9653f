// The in-memory destination: positions, overwrites, growth and bounded size hints.
#include "http/byte_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vornel::http::MemoryStream;

TEST(MemoryStream, WritesAtThePositionAndTruncateCutsBack)
{
    MemoryStream stream;
    stream.write("abcdef", 6);
    stream.truncate(2);
    EXPECT_EQ(stream.position(), 2);
    stream.write("XYZ", 3);
    EXPECT_EQ(stream.bytes(), "abXYZ");
    stream.truncate(1);
    stream.write("-", 1);
    EXPECT_EQ(stream.bytes(), "a-");
    EXPECT_EQ(stream.takeBytes(), "a-");
    EXPECT_EQ(stream.position(), 0);
}

TEST(MemoryStream, LargeGrowthKeepsEveryByte)
{
    MemoryStream stream;
    std::string piece(32768, '\0');
    for (int i = 0; i < 1500; ++i) { // ~47 MiB, past the sizes moved slice by slice
        for (size_t k = 0; k < piece.size(); k += 4096)
            piece[k] = static_cast<char>(i + k / 4096);
        stream.write(piece.data(), piece.size());
    }
    ASSERT_EQ(stream.bytes().size(), 1500u * 32768u);
    for (int i = 0; i < 1500; ++i)
        for (size_t k = 0; k < piece.size(); k += 4096)
            ASSERT_EQ(stream.bytes()[i * 32768 + k], static_cast<char>(i + k / 4096)) << i << " " << k;
}

TEST(MemoryStream, AHostileSizeHintIsBounded)
{
    MemoryStream stream;
    stream.reserve(int64_t{1} << 62);
    EXPECT_LE(stream.bytes().capacity(), 64u * 1024 * 1024);
    stream.write("x", 1);
    stream.reserve(int64_t{1} << 62);
    // The string may round a growth up to twice its capacity; the bound still holds.
    EXPECT_LE(stream.bytes().capacity(), 128u * 1024 * 1024);
}

} // namespace
