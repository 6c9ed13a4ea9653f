// Body text decoding with the meta scan and the XML encoding detection. First byte picks
// a character set from a list, or (0xFF) names one up to a line feed; the rest is the body.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "http/body_text.h"
#include "http/html_meta_scan.h"
#include "http/xml_encoding.h"

#include <array>

using namespace vornel::http;

namespace {

constexpr std::array<const char*, 24> kCharSets = {
    "",          "utf-8",      "UTF-16LE",        "utf-16be",     "us-ascii",
    "utf-7",     "iso-8859-1", "windows-1251",    "windows-1252", "koi8-r",
    "shift_jis", "euc-jp",     "iso-2022-jp",     "cp949",        "euc-kr",
    "big5",      "gb18030",    "iso-2022-cn-ext", "ucs-4",        "utf-32",
    "ucs-2",     "utf-16",     "x-unknown",       "hz-gb-2312"};

} // namespace

VORNEL_FUZZ_TARGET(body_text)
{
    vornel::fuzz::FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const std::string charSet = choice == 0xFF ? input.textUntil('\n') : kCharSets[choice % kCharSets.size()];
    const std::string body = input.rest();
    (void)decodeBodyText(body, charSet);
    const MetaScanResult meta = scanHtmlMeta(body);
    if (!meta.charSet.empty())
        (void)decodeBodyText(body, meta.charSet);
    (void)decodeBodyText(body, detectXmlEncoding(body));
    return 0;
}
