#include "http/body_text.h"

#include "http/header_fields.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>
#include <vector>

namespace vornel::http {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

enum class Decoder { Bytes, Utf8, Utf16Le, Utf16Be, UsAscii, Utf7, Converter };

void appendUtf8(std::string& out, char32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
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

Decoder decoderFor(const std::string& name) {
    static const std::set<std::string> utf8 = {"utf-8", "utf8", "csutf8", "unicode-1-1-utf-8"};
    static const std::set<std::string> utf16le = {"utf-16", "utf-16le", "csutf16le", "csutf16",
                                                  "unicode", "ucs-2", "iso-10646-ucs-2", "csunicode"};
    static const std::set<std::string> utf16be = {"utf-16be", "csutf16be", "unicodefffe"};
    static const std::set<std::string> usAscii = {
        "us-ascii", "ascii", "ansi_x3.4-1968", "ansi_x3.4-1986", "iso-ir-6", "iso_646.irv:1991",
        "iso646-us", "us", "ibm367", "cp367", "csascii"};
    static const std::set<std::string> utf7 = {"utf-7", "unicode-1-1-utf-7", "csunicode11utf7",
                                               "csutf7", "x-unicode-2-0-utf-7"};
    static const std::set<std::string> latin1 = {"iso-8859-1", "iso_8859-1", "iso_8859-1:1987",
                                                 "iso-ir-100", "latin1", "l1", "ibm819", "cp819",
                                                 "csisolatin1", "iso8859-1"};
    const std::string key = lowerAscii(trim(name));
    if (key.empty() || latin1.count(key)) return Decoder::Bytes;
    if (utf8.count(key)) return Decoder::Utf8;
    if (utf16le.count(key)) return Decoder::Utf16Le;
    if (utf16be.count(key)) return Decoder::Utf16Be;
    if (usAscii.count(key)) return Decoder::UsAscii;
    if (utf7.count(key)) return Decoder::Utf7;
    return Decoder::Converter;
}

std::string decodeBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char b : bytes) appendUtf8(out, b);
    return out;
}

std::string decodeUsAscii(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) appendUtf8(out, b < 0x80 ? b : kReplacement);
    return out;
}

// Malformed sequences become one U+FFFD per offending byte.
std::string decodeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) { out += static_cast<char>(lead); ++i; continue; }
        if (lead >= 0xC2 && lead <= 0xDF) { length = 2; c = lead & 0x1F; minimum = 0x80; }
        else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; c = lead & 0x0F; minimum = 0x800; }
        else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; c = lead & 0x07; minimum = 0x10000; }
        bool good = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; good && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (good && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) good = false;
        if (!good) { appendUtf8(out, kReplacement); ++i; continue; }
        appendUtf8(out, c);
        i += length;
    }
    return out;
}

void appendUtf16Units(std::string& out, const std::vector<char16_t>& units) {
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

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::vector<char16_t> units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    std::string out;
    appendUtf16Units(out, units);
    if (bytes.size() % 2) appendUtf8(out, kReplacement);
    return out;
}

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// "+" opens a run of modified base64 holding UTF-16 units; "-" or any non-base64 byte ends it.
std::string decodeUtf7(std::string_view bytes) {
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
            if (value < 0) break;
            bits = (bits << 6) | static_cast<uint32_t>(value);
            bitCount += 6;
            if (bitCount >= 16) {
                bitCount -= 16;
                units.push_back(static_cast<char16_t>((bits >> bitCount) & 0xFFFF));
            }
            ++i;
        }
        appendUtf16Units(out, units);
        if (i < bytes.size() && bytes[i] == '-') ++i;
    }
    return out;
}

bool plausibleConverterName(const std::string& name) {
    return !name.empty() && name.size() < 64 &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
           });
}

// nullopt-like: returns false when the system has no converter for the name.
bool decodeWithConverter(std::string_view bytes, const std::string& name, std::string& out) {
    if (!plausibleConverterName(name)) return false;
    iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> input(bytes.begin(), bytes.end());
    char* in = input.data();
    size_t inLeft = input.size();
    std::vector<char> chunk(65536);
    while (inLeft > 0) {
        char* outPtr = chunk.data();
        size_t outLeft = chunk.size();
        const size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk.data(), chunk.size() - outLeft);
        if (result != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // An invalid or cut-off sequence: one replacement for the offending byte.
        appendUtf8(out, kReplacement);
        ++in;
        --inLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = chunk.data();
    size_t outLeft = chunk.size();
    iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    out.append(chunk.data(), chunk.size() - outLeft);
    iconv_close(converter);
    return true;
}

} // namespace

std::string decodeBodyText(std::string_view bytes, const std::string& charSet) {
    switch (decoderFor(charSet)) {
    case Decoder::Bytes: return decodeBytes(bytes);
    case Decoder::Utf8: return decodeUtf8(bytes);
    case Decoder::Utf16Le: return decodeUtf16(bytes, false);
    case Decoder::Utf16Be: return decodeUtf16(bytes, true);
    case Decoder::UsAscii: return decodeUsAscii(bytes);
    case Decoder::Utf7: return decodeUtf7(bytes);
    case Decoder::Converter: {
        std::string out;
        if (decodeWithConverter(bytes, trim(charSet), out)) return out;
        return decodeBytes(bytes);
    }
    }
    return decodeBytes(bytes);
}

} // namespace vornel::http
