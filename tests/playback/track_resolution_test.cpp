#include "playback/track_resolution.h"

#include <gtest/gtest.h>

using vornel::playback::cutTrackUrl;

namespace {
struct ResolutionCase {
    const char* name;
    std::string page;
    std::optional<std::string> url;
};

class TrackResolutionTable : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(TrackResolutionTable, CutsTheSnippet)
{
    EXPECT_EQ(cutTrackUrl(GetParam().page), GetParam().url);
}

const ResolutionCase cases[] = {
    {"WorkedExample", "x{mp3:\"/get/a.mp3\"}y", std::string("/get/a.mp3")},
    {"SpaceAfterQuoteIsTrimmed", "x{mp3:\" /get/a.mp3\"}y", std::string("/get/a.mp3")},
    {"ControlCharactersTrimmed", "{mp3:\"\t\r\nhttp://h/a.mp3\"}", std::string("http://h/a.mp3")},
    {"MarkerPairGivesMp3", "{mp3:\"mp3\"}", std::string("mp3")},
    {"ClosingMarkerFirstGivesEmptyUrl", "mp3\"} then {mp3:\"http://h/a.mp3\"}", std::string()},
    {"FullPageSnippet", "<script>var p={mp3:\"http://127.0.0.2:8691/t/one.mp3\"};</script>",
     std::string("http://127.0.0.2:8691/t/one.mp3")},
    {"NonAsciiBytesPassUnchanged", "{mp3:\"http://h/caf\xC3\xA9.mp3\"}", std::string("http://h/caf\xC3\xA9.mp3")},
    {"CapitalMp3IsDead", "{MP3:\"http://h/a.mp3\"}", std::nullopt},
    {"CapitalClosingIsDead", "{mp3:\"http://h/a.MP3\"}", std::nullopt},
    {"NoOpeningMarkerIsDead", "http://h/a.mp3\"}", std::nullopt},
    {"EmptyBodyIsDead", "", std::nullopt},
    {"SnippetOwnMp3IsNotTheClosingMarker", "{mp3:\"http://h/a.ogg\"", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Pages, TrackResolutionTable, ::testing::ValuesIn(cases),
                         [](const auto& test) { return std::string(test.param.name); });
} // namespace
