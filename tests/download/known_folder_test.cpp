#include "download/known_folder.h"

#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vornel::download;

using vornel::test::TempFolder;
using vornel::test::writeText;

namespace {

class DownloadsFolderTest : public testing::Test {
protected:
    TempFolder home;
    std::string userDirs() const { return home.file(".config/user-dirs.dirs"); }
};

TEST_F(DownloadsFolderTest, ExpandsHomeAndDropsQuotes)
{
    writeText(userDirs(), "# written by xdg-user-dirs-update\n"
                          "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                          "XDG_DOWNLOAD_DIR=\"$HOME/Fetched Files\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), home.path() + "/Fetched Files/");
}

TEST_F(DownloadsFolderTest, TakesAnAbsolutePathAsWritten)
{
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"/srv/music/\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), "/srv/music/");
}

TEST_F(DownloadsFolderTest, LastDefinitionWins)
{
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"/first\"\n  XDG_DOWNLOAD_DIR=\"${HOME}/second\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), home.path() + "/second/");
}

TEST_F(DownloadsFolderTest, ReadsTheFileUnderXdgConfigHome)
{
    const std::string config = home.file("elsewhere");
    writeText(config + "/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n");
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"$HOME/ignored\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), config), home.path() + "/dl/");
}

TEST_F(DownloadsFolderTest, MissingFileFallsBackToHomeDownloads)
{
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), home.path() + "/Downloads/");
}

TEST_F(DownloadsFolderTest, FileWithoutTheEntryFallsBackToHomeDownloads)
{
    writeText(userDirs(), "XDG_MUSIC_DIR=\"$HOME/Music\"\n#XDG_DOWNLOAD_DIR=\"/nope\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), home.path() + "/Downloads/");
}

TEST_F(DownloadsFolderTest, RelativeValueIsIgnored)
{
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"Downloads\"\n");
    EXPECT_EQ(downloadsFolder(home.path(), std::nullopt), home.path() + "/Downloads/");
}

TEST_F(DownloadsFolderTest, NoHomeAndNoFileGivesEmpty)
{
    EXPECT_EQ(downloadsFolder(std::nullopt, std::nullopt), "");
    EXPECT_EQ(downloadsFolder(std::string(), home.file("missing")), "");
}

TEST_F(DownloadsFolderTest, NoHomeStillReadsAnAbsoluteEntry)
{
    const std::string config = home.file("cfg");
    writeText(config + "/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"/data/dl\"\n");
    EXPECT_EQ(downloadsFolder(std::nullopt, config), "/data/dl/");
}

TEST_F(DownloadsFolderTest, NoHomeCannotExpandHome)
{
    const std::string config = home.file("cfg");
    writeText(config + "/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n");
    EXPECT_EQ(downloadsFolder(std::nullopt, config), "");
}

TEST_F(DownloadsFolderTest, ReadsTheProcessEnvironment)
{
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"$HOME/from-env\"\n");
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(downloadsFolder(), home.path() + "/from-env/");
}

} // namespace
