#include "http/xml_encoding.h"

#include "http/header_fields.h"

#include <iconv.h>

#include <algorithm>
#include <vector>

namespace vornel::http {
namespace {

constexpr size_t kDeclarationLimit = 1024;

bool startsWith(std::string_view text, std::string_view bytes)
{
    return text.substr(0, bytes.size()) == bytes;
}

// The declaration's characters from code units `width` bytes wide, taking the byte at
// `offset` of each unit (a plain reading for the ASCII-compatible forms).
std::string asciiFromUnits(std::string_view body, size_t width, size_t offset)
{
    std::string text;
    for (size_t i = offset; i < body.size() && text.size() < kDeclarationLimit; i += width) {
        text += body[i];
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "?>") == 0)
            break;
    }
    return text;
}

std::string asciiFromEbcdic(std::string_view body)
{
    std::string text;
    iconv_t converter = iconv_open("UTF-8", "IBM037");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return text;
    std::vector<char> input(body.begin(), body.begin() + std::min(body.size(), kDeclarationLimit));
    std::vector<char> output(input.size() * 4 + 4);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    text.assign(output.data(), output.size() - outLeft);
    const size_t end = text.find("?>");
    return end == std::string::npos ? text : text.substr(0, end + 2);
}

// The encoding="..." (or '...') value of "<?xml ... ?>", empty when there is none.
std::string declaredEncoding(const std::string& declaration)
{
    if (declaration.compare(0, 5, "<?xml") != 0)
        return {};
    const size_t end = declaration.find("?>");
    const std::string inside = declaration.substr(0, end);
    size_t at = inside.find("encoding");
    while (at != std::string::npos) {
        size_t pos = at + 8;
        while (pos < inside.size() &&
               (inside[pos] == ' ' || inside[pos] == '\t' || inside[pos] == '\r' || inside[pos] == '\n'))
            ++pos;
        if (pos < inside.size() && inside[pos] == '=') {
            ++pos;
            while (pos < inside.size() &&
                   (inside[pos] == ' ' || inside[pos] == '\t' || inside[pos] == '\r' || inside[pos] == '\n'))
                ++pos;
            if (pos < inside.size() && (inside[pos] == '"' || inside[pos] == '\'')) {
                const size_t close = inside.find(inside[pos], pos + 1);
                if (close != std::string::npos)
                    return inside.substr(pos + 1, close - pos - 1);
            }
            return {};
        }
        at = inside.find("encoding", at + 8);
    }
    return {};
}

std::string orDefault(const std::string& declared, const char* fallback)
{
    return declared.empty() ? fallback : declared;
}

} // namespace

std::string detectXmlEncoding(std::string_view body)
{
    using namespace std::literals;
    if (startsWith(body, "\x00\x00\xFE\xFF"sv))
        return "UTF-32BE";
    if (startsWith(body, "\xFF\xFE\x00\x00"sv))
        return "UTF-32LE";
    if (startsWith(body, "\xFE\xFF"sv))
        return "UTF-16BE";
    if (startsWith(body, "\xFF\xFE"sv))
        return "UTF-16LE";
    if (startsWith(body, "\xEF\xBB\xBF"sv))
        return "UTF-8";
    if (startsWith(body, "\x00\x00\x00\x3C"sv))
        return orDefault(declaredEncoding(asciiFromUnits(body, 4, 3)), "UTF-32BE");
    if (startsWith(body, "\x3C\x00\x00\x00"sv))
        return orDefault(declaredEncoding(asciiFromUnits(body, 4, 0)), "UTF-32LE");
    if (startsWith(body, "\x00\x3C\x00\x3F"sv))
        return orDefault(declaredEncoding(asciiFromUnits(body, 2, 1)), "UTF-16BE");
    if (startsWith(body, "\x3C\x00\x3F\x00"sv))
        return orDefault(declaredEncoding(asciiFromUnits(body, 2, 0)), "UTF-16LE");
    if (startsWith(body, "\x3C\x3F\x78\x6D"sv))
        return orDefault(declaredEncoding(asciiFromUnits(body, 1, 0)), "UTF-8");
    if (startsWith(body, "\x4C\x6F\xA7\x94"sv))
        return orDefault(declaredEncoding(asciiFromEbcdic(body)), "UTF-8");
    return "UTF-8";
}

} // namespace vornel::http
