#include "http/cookie_date.h"

#include "http/cookie_text.h"

#include <array>
#include <vector>

namespace vornel::http {

namespace {

using namespace std::chrono;

bool isDelimiter(unsigned char c)
{
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<std::string_view> dateTokens(std::string_view text)
{
    std::vector<std::string_view> tokens;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isDelimiter(static_cast<unsigned char>(text[i]))) {
            if (i > start)
                tokens.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return tokens;
}

// Reads minDigits to maxDigits digits at pos; the character after them must not be a
// digit. Advances pos past the digits.
std::optional<int> leadingNumber(std::string_view token, size_t& pos, size_t minDigits, size_t maxDigits)
{
    int value = 0;
    size_t count = 0;
    while (pos < token.size() && isDigit(token[pos]) && count < maxDigits) {
        value = value * 10 + (token[pos] - '0');
        ++pos;
        ++count;
    }
    if (count < minDigits || (pos < token.size() && isDigit(token[pos])))
        return std::nullopt;
    return value;
}

// time = 1*2DIGIT ":" 1*2DIGIT ":" 1*2DIGIT [ non-digit *OCTET ]
bool readTime(std::string_view token, int& hour, int& minute, int& second)
{
    size_t pos = 0;
    std::array<int, 3> fields{};
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto field = leadingNumber(token, pos, 1, 2);
        if (!field)
            return false;
        fields[i] = *field;
        if (i < 2) {
            if (pos >= token.size() || token[pos] != ':')
                return false;
            ++pos;
        }
    }
    hour = fields[0];
    minute = fields[1];
    second = fields[2];
    return true;
}

std::optional<int> readNumberToken(std::string_view token, size_t minDigits, size_t maxDigits)
{
    size_t pos = 0;
    return leadingNumber(token, pos, minDigits, maxDigits);
}

std::optional<unsigned> readMonth(std::string_view token)
{
    static constexpr std::array<std::string_view, 12> kMonthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                     "jul", "aug", "sep", "oct", "nov", "dec"};
    for (unsigned i = 0; i < kMonthNames.size(); ++i)
        if (startsWithIgnoringCase(token, kMonthNames[i]))
            return i + 1;
    return std::nullopt;
}

struct DateParts {
    std::optional<std::array<int, 3>> time;
    std::optional<int> day;
    std::optional<unsigned> month;
    std::optional<int> year;
};

void takeToken(std::string_view token, DateParts& parts)
{
    int hour = 0, minute = 0, second = 0;
    if (!parts.time && readTime(token, hour, minute, second)) {
        parts.time = std::array<int, 3>{hour, minute, second};
        return;
    }
    if (!parts.day) {
        if (const auto day = readNumberToken(token, 1, 2)) {
            parts.day = day;
            return;
        }
    }
    if (!parts.month) {
        if (const auto month = readMonth(token)) {
            parts.month = month;
            return;
        }
    }
    if (!parts.year) {
        if (const auto year = readNumberToken(token, 2, 4))
            parts.year = year;
    }
}

int fullYear(int year)
{
    if (year >= 70 && year <= 99)
        return year + 1900;
    if (year >= 0 && year <= 69)
        return year + 2000;
    return year;
}

} // namespace

std::optional<CookieTime> parseCookieDate(std::string_view text)
{
    DateParts parts;
    for (std::string_view token : dateTokens(text))
        takeToken(token, parts);
    if (!parts.time || !parts.day || !parts.month || !parts.year)
        return std::nullopt;
    const int yearNumber = fullYear(*parts.year);
    const auto [hour, minute, second] = *parts.time;
    if (*parts.day < 1 || *parts.day > 31 || yearNumber < 1601 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const year_month_day date{year{yearNumber}, month{*parts.month}, day{static_cast<unsigned>(*parts.day)}};
    if (!date.ok())
        return std::nullopt;
    return CookieTime{sys_days{date}} + hours{hour} + minutes{minute} + seconds{second};
}

} // namespace vornel::http
