#include "download/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

using namespace vornel::download;

namespace {

struct ProgressCase {
    const char* title;
    int64_t workCount;
    int64_t contentLength;
    std::string transferEncoding;
    std::optional<int> expected;
};

void PrintTo(const ProgressCase& c, std::ostream* os)
{
    *os << c.title;
}

class DownloadProgressTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(DownloadProgressTest, GivesTheExpectedPosition)
{
    const ProgressCase& c = GetParam();
    EXPECT_EQ(downloadProgress(c.workCount, c.contentLength, c.transferEncoding), c.expected);
}

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

INSTANTIATE_TEST_SUITE_P(Replies, DownloadProgressTest,
                         testing::Values(ProgressCase{"TruncatesJustBelowTheEnd", 999, 1000, "", 99},
                                         ProgressCase{"CompleteIsHundred", 1000, 1000, "", 100},
                                         ProgressCase{"NothingReceived", 0, 1000, "", 0},
                                         ProgressCase{"Half", 512, 1024, "identity", 50},
                                         ProgressCase{"ZeroLengthLeavesBar", 10, 0, "", std::nullopt},
                                         ProgressCase{"NoLengthLeavesBar", 10, -1, "", std::nullopt},
                                         ProgressCase{"ChunkedLeavesBar", 10, 1000, "chunked", std::nullopt},
                                         ProgressCase{"ChunkedAnyCase", 10, 1000, "Chunked", std::nullopt},
                                         ProgressCase{"ChunkedInAList", 10, 1000, "gzip, CHUNKED", std::nullopt},
                                         ProgressCase{"HugeCountNoOverflow", kMax / 2, kMax, "", 49},
                                         ProgressCase{"HugeCountComplete", kMax, kMax, "", 100},
                                         ProgressCase{"MoreThanAnnouncedClamps", kMax, 1000, "", 100},
                                         ProgressCase{"NegativeCountClamps", -5000, 1000, "", 0},
                                         ProgressCase{"TinyShareOfHugeLength", 1000, kMax, "", 0}),
                         [](const testing::TestParamInfo<ProgressCase>& test) {
                             return std::string(test.param.title);
                         });

} // namespace
