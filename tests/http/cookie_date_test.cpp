// Reading the date of an Expires attribute.
#include "http/cookie_date.h"

#include <gtest/gtest.h>

using namespace vornel::http;
using namespace std::chrono;

namespace {

CookieTime utc(int y, unsigned mo, unsigned d, int h, int mi, int s)
{
    return CookieTime{sys_days{year{y} / month{mo} / day{d}}} + hours{h} + minutes{mi} + seconds{s};
}

struct DateCase {
    std::string text;
    std::optional<CookieTime> expected;
};

std::ostream& operator<<(std::ostream& out, const DateCase& c)
{
    return out << '"' << c.text << '"';
}

class CookieDate : public testing::TestWithParam<DateCase> {};

} // namespace

TEST_P(CookieDate, ReadsTheMomentOrNothing)
{
    EXPECT_EQ(parseCookieDate(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Dates, CookieDate,
    testing::Values(DateCase{"Wed, 21 Oct 2015 07:28:00 GMT", utc(2015, 10, 21, 7, 28, 0)},
                    DateCase{"Sunday, 06-Nov-94 08:49:37 GMT", utc(1994, 11, 6, 8, 49, 37)},
                    DateCase{"Sun Nov  6 08:49:37 1994", utc(1994, 11, 6, 8, 49, 37)},
                    DateCase{"thu, 01-JANUARY-1970 00:00:01 gmt", utc(1970, 1, 1, 0, 0, 1)},
                    DateCase{"1 jan 70 0:0:0", utc(1970, 1, 1, 0, 0, 0)},
                    DateCase{"1 jan 69 1:2:3", utc(2069, 1, 1, 1, 2, 3)},
                    DateCase{"31 Dec 9999 23:59:59", utc(9999, 12, 31, 23, 59, 59)},
                    DateCase{"29 Feb 2024 12:00:00", utc(2024, 2, 29, 12, 0, 0)},
                    DateCase{"12:00:00xyz 5th Mar 2030", utc(2030, 3, 5, 12, 0, 0)},
                    DateCase{"Wed, 31 Feb 2015 07:28:00 GMT", std::nullopt},
                    DateCase{"29 Feb 2023 12:00:00", std::nullopt}, DateCase{"Wed, 21 Oct 2015", std::nullopt},
                    DateCase{"21 Oct 07:28:00", std::nullopt}, DateCase{"21 2015 07:28:00", std::nullopt},
                    DateCase{"21 Foo 2015 07:28:00", std::nullopt}, DateCase{"21 Oct 1600 07:28:00", std::nullopt},
                    DateCase{"21 Oct 2015 24:00:00", std::nullopt}, DateCase{"21 Oct 2015 07:60:00", std::nullopt},
                    DateCase{"32 Oct 2015 07:28:00", std::nullopt}, DateCase{"0 Oct 2015 07:28:00", std::nullopt},
                    DateCase{"21 Oct 20155 07:28:00", std::nullopt}, DateCase{"", std::nullopt},
                    DateCase{"tomorrow", std::nullopt}));
