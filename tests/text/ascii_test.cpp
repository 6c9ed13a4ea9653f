// The shared ASCII helpers: what counts as blank, and that only A to Z change case.
#include "text/ascii.h"

#include <gtest/gtest.h>

namespace {

using vornel::text::lowerAscii;
using vornel::text::trimmed;

struct TrimCase {
    const char* name;
    std::string input;
    std::string expected;
};

class TrimmedTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimmedTest, DropsBytesUpToSpaceAtBothEnds)
{
    EXPECT_EQ(trimmed(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimmedTest,
                         ::testing::Values(TrimCase{"Empty", "", ""}, TrimCase{"OnlySpaces", "   ", ""},
                                           TrimCase{"OneLetter", "a", "a"},
                                           TrimCase{"ControlsAndDeleteKept", " \x01\x1f a b \x7f\x20\n", "a b \x7f"},
                                           TrimCase{"NulBytes", std::string("\0x\0", 3), "x"},
                                           TrimCase{"LineEnds", "\t\r\nname=value\r\n", "name=value"},
                                           TrimCase{"NoBreakSpaceKept",
                                                    "\xC2\xA0"
                                                    "x\xC2\xA0",
                                                    "\xC2\xA0"
                                                    "x\xC2\xA0"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(LowerAsciiTest, FoldsOnlyLatinCapitals)
{
    EXPECT_EQ(lowerAscii("Content-TYPE: Text/HTML"), "content-type: text/html");
    EXPECT_EQ(lowerAscii("@[`{"), "@[`{");
    EXPECT_EQ(lowerAscii("\xC3\x84\xC3\x96"), "\xC3\x84\xC3\x96");
    EXPECT_EQ(lowerAscii(""), "");
}

} // namespace
