#include "download/save_path.h"

#include <gtest/gtest.h>

using namespace vornel::download;

namespace {

TEST(SavePath, AppendsTheDelimiterWhenMissing)
{
    EXPECT_EQ(savePath("/home/u/Downloads", "Song"), "/home/u/Downloads/Song.mp3");
}

TEST(SavePath, KeepsASingleTrailingDelimiter)
{
    EXPECT_EQ(savePath("/home/u/Downloads/", "Song"), "/home/u/Downloads/Song.mp3");
}

TEST(SavePath, EmptyFolderStartsWithTheDelimiter)
{
    EXPECT_EQ(savePath("", "Song"), "/Song.mp3");
}

TEST(SavePath, NameWithFullStopsKeepsThem)
{
    EXPECT_EQ(savePath("/tmp/x", "connecting..."), "/tmp/x/connecting....mp3");
}

} // namespace
