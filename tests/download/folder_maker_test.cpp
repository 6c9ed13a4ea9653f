// Making the download folder: parents too, mode 0755 under the umask, failures said.
#include "download/folder_maker.h"

#include "tests/support/folder_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>

using vornel::download::makeFolderWithParents;
using vornel::test::TempFolder;
using vornel::test::writeText;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    EXPECT_TRUE(S_ISDIR(status.st_mode)) << path;
    return status.st_mode & 07777;
}

// Sets the process's umask for one scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

struct UmaskCase {
    mode_t umask;
    mode_t mode;
};

void PrintTo(const UmaskCase& c, std::ostream* out)
{
    *out << "umask " << std::oct << c.umask;
}

class FolderMakerTest : public testing::TestWithParam<UmaskCase> {};

TEST_P(FolderMakerTest, MakesTheFolderAndItsParentsWith0755UnderTheUmask)
{
    TempFolder base;
    const ScopedUmask mask(GetParam().umask);
    const std::string folder = base.file("home/user/Downloads");
    makeFolderWithParents(folder);
    for (const std::string& made : {base.file("home"), base.file("home/user"), folder})
        EXPECT_EQ(modeOf(made), GetParam().mode) << made;
}

INSTANTIATE_TEST_SUITE_P(Download, FolderMakerTest,
                         testing::Values(UmaskCase{022, 0755}, UmaskCase{027, 0750}, UmaskCase{077, 0700},
                                         UmaskCase{0, 0755}),
                         [](const testing::TestParamInfo<UmaskCase>& test) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Umask%03o", static_cast<unsigned>(test.param.umask));
                             return std::string(name);
                         });

TEST(FolderMaker, LeavesWhatIsThereAsItIsAndTakesDoubleAndTrailingSlashes)
{
    TempFolder base;
    ::chmod(base.path().c_str(), 0711);
    makeFolderWithParents(base.path());
    makeFolderWithParents(base.path() + "//a//b/");
    EXPECT_EQ(modeOf(base.path()), 0711u);
    EXPECT_EQ(modeOf(base.file("a/b")), 0755u & ~static_cast<mode_t>(022));
    makeFolderWithParents("");
}

TEST(FolderMaker, APathThroughAFileIsRefusedWithTheReason)
{
    TempFolder base;
    writeText(base.file("file"), "not a folder");
    for (const std::string& folder : {base.file("file"), base.file("file/below")}) {
        try {
            makeFolderWithParents(folder);
            ADD_FAILURE() << "made " << folder;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("Not a directory"), std::string::npos) << error.what();
        }
    }
}

} // namespace
