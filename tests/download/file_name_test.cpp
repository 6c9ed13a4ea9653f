#include "download/file_name.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <ostream>
#include <string>

using namespace vornel::download;

namespace {

struct NameCase {
    const char* title;
    std::string input;
    std::string expected;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.title;
}

class SanitizeFileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(SanitizeFileNameTest, GivesTheExpectedName)
{
    EXPECT_EQ(SanitizeFileName(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, SanitizeFileNameTest,
    testing::Values(
        NameCase{"TwoWordsJoinedByDash", "Artist - Title", "Artist - Title"},
        NameCase{"SlashAndColon", "AC/DC: Thunder", "AC DC Thunder"},
        NameCase{"LeadingAndTrailingSpaces", "  Word  ", "Word"}, NameCase{"TrailingQuestionMark", "Why?", "Why"},
        NameCase{"TwoQuestionMarksBetweenWords", "Why??Not", "Why Not"},
        NameCase{"TabBetweenWords", "one\ttwo", "one two"}, NameCase{"LineBreaksBetweenWords", "one\r\ntwo", "one two"},
        NameCase{"AsteriskBetweenWords", "a*b", "a b"},
        NameCase{"RunOfEveryForbiddenCharacter", "a \"*/:<>?\\|\t\n\r b", "a b"},
        NameCase{"LeadingForbiddenCharacters", "<<x", "x"}, NameCase{"FullStopsPass", "connecting...", "connecting..."},
        NameCase{"MarkerAndSpaceSurvive", "\u25BA Artist - Song", "\u25BA Artist - Song"},
        NameCase{"PercentSigns", "100% pure", "100% pure"},
        NameCase{"OtherScripts", "Кино — Группа крови 東京", "Кино — Группа крови 東京"},
        NameCase{"ForbiddenAfterNonAscii", "Ёж/Ёж", "Ёж Ёж"},
        NameCase{"InnerControlCharactersPass",
                 "a\x01"
                 "b\x7f"
                 "c",
                 "a\x01"
                 "b\x7f"
                 "c"},
        NameCase{"ControlCharactersTrimmedAtEnds",
                 "\x01\x1f"
                 "song\x02\x1f",
                 "song"},
        NameCase{"DeleteIsNotTrimmed", "\x7fsong", "\x7fsong"}),
    [](const testing::TestParamInfo<NameCase>& test) { return std::string(test.param.title); });

std::string failureMessage(const std::string& input)
{
    try {
        SanitizeFileName(input);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(SanitizeFileNameFailure, EmptyInputNamesNothingAfterThePrefix)
{
    EXPECT_EQ(failureMessage(""), "Resulting FileName was empty Input string was: ");
}

TEST(SanitizeFileNameFailure, QuestionMarksOnlyAreQuotedUnchanged)
{
    EXPECT_EQ(failureMessage("???"), "Resulting FileName was empty Input string was: ???");
}

TEST(SanitizeFileNameFailure, BlanksAndControlsOnlyFail)
{
    EXPECT_EQ(failureMessage(" \t\x01 "), "Resulting FileName was empty Input string was:  \t\x01 ");
}

} // namespace
