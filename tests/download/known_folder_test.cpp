#include "download/known_folder.h"

#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

using namespace vornel::download;
using namespace vornel::test;

namespace {

class DownloadsFolderTest : public testing::Test {
protected:
    TempFolder home{"vornel-dl"};
    std::string userDirs() const { return home.file(".config/user-dirs.dirs"); }
};

enum class Home { Unset, Empty, Folder };

// What the user's folders hold and which of them the call is given. "~/" in `expected`
// stands for the home folder.
struct FolderCase {
    const char* name;
    Home home;
    const char* homeUserDirs;   // $HOME/.config/user-dirs.dirs; nullptr: no such file
    const char* configUserDirs; // user-dirs.dirs in the given config folder; nullptr: no config
                                // folder given, "": one given that holds no such file
    const char* expected;
};

void PrintTo(const FolderCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadsFolderCase : public DownloadsFolderTest, public testing::WithParamInterface<FolderCase> {
protected:
    std::optional<std::string> homeArgument() const
    {
        switch (GetParam().home) {
        case Home::Unset: return std::nullopt;
        case Home::Empty: return std::string();
        case Home::Folder: return home.path();
        }
        return std::nullopt;
    }
    std::optional<std::string> configArgument() const
    {
        if (GetParam().configUserDirs == nullptr)
            return std::nullopt;
        return home.file("cfg");
    }
    std::string expected() const
    {
        const std::string text = GetParam().expected;
        return text.rfind("~/", 0) == 0 ? home.path() + text.substr(1) : text;
    }
};

TEST_P(DownloadsFolderCase, FindsTheDownloadsFolder)
{
    if (GetParam().homeUserDirs != nullptr)
        writeText(userDirs(), GetParam().homeUserDirs);
    if (GetParam().configUserDirs != nullptr && *GetParam().configUserDirs != '\0')
        writeText(home.file("cfg/user-dirs.dirs"), GetParam().configUserDirs);
    EXPECT_EQ(downloadsFolder(homeArgument(), configArgument()), expected());
}

INSTANTIATE_TEST_SUITE_P(
    UserDirs, DownloadsFolderCase,
    testing::Values(
        FolderCase{"ExpandsHomeAndDropsQuotes", Home::Folder,
                   "# written by xdg-user-dirs-update\n"
                   "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                   "XDG_DOWNLOAD_DIR=\"$HOME/Fetched Files\"\n",
                   nullptr, "~/Fetched Files/"},
        FolderCase{"TakesAnAbsolutePathAsWritten", Home::Folder, "XDG_DOWNLOAD_DIR=\"/srv/music/\"\n", nullptr,
                   "/srv/music/"},
        FolderCase{"LastDefinitionWins", Home::Folder,
                   "XDG_DOWNLOAD_DIR=\"/first\"\n  XDG_DOWNLOAD_DIR=\"${HOME}/second\"\n", nullptr, "~/second/"},
        FolderCase{"ReadsTheFileUnderXdgConfigHome", Home::Folder, "XDG_DOWNLOAD_DIR=\"$HOME/ignored\"\n",
                   "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", "~/dl/"},
        FolderCase{"MissingFileFallsBackToHomeDownloads", Home::Folder, nullptr, nullptr, "~/Downloads/"},
        FolderCase{"FileWithoutTheEntryFallsBackToHomeDownloads", Home::Folder,
                   "XDG_MUSIC_DIR=\"$HOME/Music\"\n#XDG_DOWNLOAD_DIR=\"/nope\"\n", nullptr, "~/Downloads/"},
        FolderCase{"RelativeValueIsIgnored", Home::Folder, "XDG_DOWNLOAD_DIR=\"Downloads\"\n", nullptr, "~/Downloads/"},
        FolderCase{"NoHomeAndNoFileGivesEmpty", Home::Unset, nullptr, nullptr, ""},
        FolderCase{"EmptyHomeAndAMissingConfigFileGivesEmpty", Home::Empty, nullptr, "", ""},
        FolderCase{"NoHomeStillReadsAnAbsoluteEntry", Home::Unset, nullptr, "XDG_DOWNLOAD_DIR=\"/data/dl\"\n",
                   "/data/dl/"},
        FolderCase{"NoHomeCannotExpandHome", Home::Unset, nullptr, "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", ""}),
    [](const testing::TestParamInfo<FolderCase>& test) { return std::string(test.param.name); });

TEST_F(DownloadsFolderTest, ReadsTheProcessEnvironment)
{
    writeText(userDirs(), "XDG_DOWNLOAD_DIR=\"$HOME/from-env\"\n");
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(downloadsFolder(), home.path() + "/from-env/");
}

} // namespace
