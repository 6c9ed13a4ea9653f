#include "http/body_text.h"

#include "http/charset_registry.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

namespace vornel::http {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c)
{
    if (c >= 0xD800 && c <= 0xDFFF)
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        appendUtf8(out, kReplacement);
    }
}

std::string decodeBytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char b : bytes)
        appendUtf8(out, b);
    return out;
}

std::string decodeUsAscii(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes)
        appendUtf8(out, b < 0x80 ? b : kReplacement);
    return out;
}

// Malformed sequences become one U+FFFD per offending byte.
std::string decodeUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            minimum = 0x10000;
        }
        bool good = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; good && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (good && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            good = false;
        if (!good) {
            appendUtf8(out, kReplacement);
            ++i;
            continue;
        }
        appendUtf8(out, c);
        i += length;
    }
    return out;
}

void appendUtf16Units(std::string& out, const std::vector<char16_t>& units)
{
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, unit);
        }
    }
}

std::string decodeUtf16(std::string_view bytes, bool bigEndian)
{
    std::vector<char16_t> units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    std::string out;
    appendUtf16Units(out, units);
    if (bytes.size() % 2)
        appendUtf8(out, kReplacement);
    return out;
}

int base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// "+" opens a run of modified base64 holding UTF-16 units; "-" or any non-base64 byte ends it.
std::string decodeUtf7(std::string_view bytes)
{
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c != '+') {
            appendUtf8(out, c < 0x80 ? c : kReplacement);
            ++i;
            continue;
        }
        ++i;
        if (i < bytes.size() && bytes[i] == '-') {
            out += '+';
            ++i;
            continue;
        }
        std::vector<char16_t> units;
        uint32_t bits = 0;
        int bitCount = 0;
        while (i < bytes.size()) {
            const int value = base64Value(static_cast<unsigned char>(bytes[i]));
            if (value < 0)
                break;
            bits = (bits << 6) | static_cast<uint32_t>(value);
            bitCount += 6;
            if (bitCount >= 16) {
                bitCount -= 16;
                units.push_back(static_cast<char16_t>((bits >> bitCount) & 0xFFFF));
            }
            ++i;
        }
        appendUtf16Units(out, units);
        if (i < bytes.size() && bytes[i] == '-')
            ++i;
    }
    return out;
}

uint32_t littleEndianWord(const char* bytes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

// The converter writes UCS-4 code points, which appendUtf8 checks one by one: a converter
// that produces surrogates or values beyond U+10FFFF still gives valid UTF-8.
void appendCodePoints(std::string& out, const char* begin, const char* end)
{
    for (const char* p = begin; p + 4 <= end; p += 4)
        appendUtf8(out, littleEndianWord(p));
}

class Converter {
public:
    explicit Converter(const char* from) : handle_(iconv_open("UCS-4LE", from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return handle_; }

private:
    iconv_t handle_;
};

// Every byte is either converted or replaced: an invalid or cut-off sequence gives one U+FFFD
// for its first byte, and the conversion goes on after that byte in the initial shift state.
// Returns false when the system has no converter for the name.
bool decodeWithConverter(std::string_view bytes, const char* converterName, std::string& out)
{
    Converter converter(converterName);
    if (!converter.valid())
        return false;
    std::vector<char> input(bytes.begin(), bytes.end());
    char* in = input.data();
    size_t inLeft = input.size();
    std::vector<char> chunk(65536);
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        size_t outLeft = chunk.size();
        const size_t result = iconv(converter.handle(), &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        appendCodePoints(out, chunk.data(), outPtr);
        if (result != static_cast<size_t>(-1))
            break;
        const bool madeProgress = outLeft != chunk.size();
        if (error == E2BIG && madeProgress)
            continue;
        appendUtf8(out, kReplacement);
        // Some converters report an error after taking the whole input: nothing is left to skip.
        if (inLeft == 0)
            break;
        ++in;
        --inLeft;
        iconv(converter.handle(), nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = chunk.data();
    size_t outLeft = chunk.size();
    iconv(converter.handle(), nullptr, nullptr, &outPtr, &outLeft);
    appendCodePoints(out, chunk.data(), outPtr);
    return true;
}

} // namespace

std::string decodeBodyText(std::string_view bytes, const std::string& charSet)
{
    const std::optional<RegisteredCharset> charset = findRegisteredCharset(charSet);
    if (!charset)
        return decodeBytes(bytes);
    switch (charset->decoder) {
    case CharsetDecoder::Latin1: return decodeBytes(bytes);
    case CharsetDecoder::Utf8: return decodeUtf8(bytes);
    case CharsetDecoder::Utf16Le: return decodeUtf16(bytes, false);
    case CharsetDecoder::Utf16Be: return decodeUtf16(bytes, true);
    case CharsetDecoder::UsAscii: return decodeUsAscii(bytes);
    case CharsetDecoder::Utf7: return decodeUtf7(bytes);
    case CharsetDecoder::Converter: {
        std::string out;
        const std::string converterName(charset->converterName);
        if (decodeWithConverter(bytes, converterName.c_str(), out))
            return out;
        return decodeBytes(bytes);
    }
    }
    return decodeBytes(bytes);
}

} // namespace vornel::http
