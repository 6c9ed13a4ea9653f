#include "http/charset_registry.h"

#include "http/header_fields.h"

#include <string>
#include <unordered_map>

namespace vornel::http {
namespace {

struct RegistryEntry {
    CharsetDecoder decoder;
    const char* converterName;
    // The registered name first, then its aliases, separated by spaces.
    const char* names;
};

constexpr auto kConv = CharsetDecoder::Converter;

// The registry's character sets that the client or the system converter decodes. A few sets
// share one converter where the system's converter is the superset that senders really mean
// (Shift_JIS as code page 932, the Korean standard as code page 949, GB2312 as GBK).
// The Windows "cp125x" spellings are kept beside the registry's windows-125x names because
// pages use them as often as the registered ones.
constexpr RegistryEntry kRegistry[] = {
    {CharsetDecoder::UsAscii, "",
     "US-ASCII iso-ir-6 ANSI_X3.4-1968 ANSI_X3.4-1986 ISO_646.irv:1991 ISO646-US us IBM367 cp367 csASCII"},
    {CharsetDecoder::Latin1, "", "ISO-8859-1 ISO_8859-1:1987 iso-ir-100 ISO_8859-1 latin1 l1 IBM819 CP819 csISOLatin1"},
    {CharsetDecoder::Utf8, "", "UTF-8 csUTF8"},
    {CharsetDecoder::Utf16Le, "", "UTF-16 csUTF16 UTF-16LE csUTF16LE ISO-10646-UCS-2 csUnicode"},
    {CharsetDecoder::Utf16Be, "", "UTF-16BE csUTF16BE"},
    {CharsetDecoder::Utf7, "", "UTF-7 csUTF7 UNICODE-1-1-UTF-7 csUnicode11UTF7"},
    {kConv, "UTF-32", "UTF-32 csUTF32"},
    {kConv, "UTF-32BE", "UTF-32BE csUTF32BE"},
    {kConv, "UTF-32LE", "UTF-32LE csUTF32LE"},
    {kConv, "UCS-4", "ISO-10646-UCS-4 csUCS4"},
    {kConv, "ISO-8859-2", "ISO-8859-2 ISO_8859-2:1987 iso-ir-101 ISO_8859-2 latin2 l2 csISOLatin2"},
    {kConv, "ISO-8859-3", "ISO-8859-3 ISO_8859-3:1988 iso-ir-109 ISO_8859-3 latin3 l3 csISOLatin3"},
    {kConv, "ISO-8859-4", "ISO-8859-4 ISO_8859-4:1988 iso-ir-110 ISO_8859-4 latin4 l4 csISOLatin4"},
    {kConv, "ISO-8859-5", "ISO-8859-5 ISO_8859-5:1988 iso-ir-144 ISO_8859-5 cyrillic csISOLatinCyrillic"},
    {kConv, "ISO-8859-6",
     "ISO-8859-6 ISO_8859-6:1987 iso-ir-127 ISO_8859-6 ECMA-114 ASMO-708 arabic csISOLatinArabic "
     "ISO_8859-6-E csISO88596E ISO-8859-6-E ISO_8859-6-I csISO88596I ISO-8859-6-I"},
    {kConv, "ISO-8859-7",
     "ISO-8859-7 ISO_8859-7:1987 iso-ir-126 ISO_8859-7 ELOT_928 ECMA-118 greek greek8 csISOLatinGreek"},
    {kConv, "ISO-8859-8",
     "ISO-8859-8 ISO_8859-8:1988 iso-ir-138 ISO_8859-8 hebrew csISOLatinHebrew "
     "ISO_8859-8-E csISO88598E ISO-8859-8-E ISO_8859-8-I csISO88598I ISO-8859-8-I"},
    {kConv, "ISO-8859-9", "ISO-8859-9 ISO_8859-9:1989 iso-ir-148 ISO_8859-9 latin5 l5 csISOLatin5"},
    {kConv, "ISO-8859-10", "ISO-8859-10 iso-ir-157 l6 ISO_8859-10:1992 csISOLatin6 latin6"},
    {kConv, "ISO-8859-13", "ISO-8859-13 csISO885913"},
    {kConv, "ISO-8859-14", "ISO-8859-14 iso-ir-199 ISO_8859-14:1998 ISO_8859-14 latin8 iso-celtic l8 csISO885914"},
    {kConv, "ISO-8859-15", "ISO-8859-15 ISO_8859-15 Latin-9 csISO885915"},
    {kConv, "ISO-8859-16", "ISO-8859-16 iso-ir-226 ISO_8859-16:2001 ISO_8859-16 latin10 l10 csISO885916"},
    {kConv, "TIS-620", "TIS-620 csTIS620"},
    {kConv, "CP874", "windows-874 cswindows874"},
    {kConv, "CP1250", "windows-1250 cswindows1250 cp1250"},
    {kConv, "CP1251", "windows-1251 cswindows1251 cp1251"},
    {kConv, "CP1252", "windows-1252 cswindows1252 cp1252"},
    {kConv, "CP1253", "windows-1253 cswindows1253 cp1253"},
    {kConv, "CP1254", "windows-1254 cswindows1254 cp1254"},
    {kConv, "CP1255", "windows-1255 cswindows1255 cp1255"},
    {kConv, "CP1256", "windows-1256 cswindows1256 cp1256"},
    {kConv, "CP1257", "windows-1257 cswindows1257 cp1257"},
    {kConv, "CP1258", "windows-1258 cswindows1258 cp1258"},
    {kConv, "KOI8-R", "KOI8-R csKOI8R"},
    {kConv, "KOI8-U", "KOI8-U csKOI8U"},
    {kConv, "PT154", "PTCP154 csPTCP154 PT154 CP154 Cyrillic-Asian"},
    {kConv, "RK1048", "KZ-1048 STRK1048-2002 RK1048 csKZ1048"},
    {kConv, "VISCII", "VISCII csVISCII"},
    {kConv, "MACINTOSH", "macintosh mac csMacintosh"},
    {kConv, "HP-ROMAN8", "hp-roman8 roman8 r8 csHPRoman8"},
    {kConv, "IBM437", "IBM437 cp437 437 csPC8CodePage437"},
    {kConv, "IBM775", "IBM775 cp775 csPC775Baltic"},
    {kConv, "IBM850", "IBM850 cp850 850 csPC850Multilingual"},
    {kConv, "IBM852", "IBM852 cp852 852 csPCp852"},
    {kConv, "IBM855", "IBM855 cp855 855 csIBM855"},
    {kConv, "IBM857", "IBM857 cp857 857 csIBM857"},
    {kConv, "IBM858", "IBM00858 CCSID00858 CP00858 PC-Multilingual-850+euro csIBM00858"},
    {kConv, "IBM860", "IBM860 cp860 860 csIBM860"},
    {kConv, "IBM861", "IBM861 cp861 861 cp-is csIBM861"},
    {kConv, "IBM862", "IBM862 cp862 862 csPC862LatinHebrew"},
    {kConv, "IBM863", "IBM863 cp863 863 csIBM863"},
    {kConv, "IBM864", "IBM864 cp864 csIBM864"},
    {kConv, "IBM865", "IBM865 cp865 865 csIBM865"},
    {kConv, "IBM866", "IBM866 cp866 866 csIBM866"},
    {kConv, "IBM869", "IBM869 cp869 869 cp-gr csIBM869"},
    {kConv, "IBM037", "IBM037 cp037 ebcdic-cp-us ebcdic-cp-ca ebcdic-cp-wt ebcdic-cp-nl csIBM037"},
    {kConv, "IBM273", "IBM273 CP273 csIBM273"},
    {kConv, "IBM500", "IBM500 CP500 ebcdic-cp-be ebcdic-cp-ch csIBM500"},
    {kConv, "IBM1026", "IBM1026 CP1026 csIBM1026"},
    {kConv, "IBM1047", "IBM1047 IBM-1047"},
    {kConv, "IBM1140", "IBM01140 CCSID01140 CP01140 ebcdic-us-37+euro csIBM01140"},
    {kConv, "IBM1141", "IBM01141 CCSID01141 CP01141 ebcdic-de-273+euro csIBM01141"},
    {kConv, "IBM1142", "IBM01142 CCSID01142 CP01142 ebcdic-dk-277+euro ebcdic-no-277+euro csIBM01142"},
    {kConv, "IBM1143", "IBM01143 CCSID01143 CP01143 ebcdic-fi-278+euro ebcdic-se-278+euro csIBM01143"},
    {kConv, "IBM1144", "IBM01144 CCSID01144 CP01144 ebcdic-it-280+euro csIBM01144"},
    {kConv, "IBM1145", "IBM01145 CCSID01145 CP01145 ebcdic-es-284+euro csIBM01145"},
    {kConv, "IBM1146", "IBM01146 CCSID01146 CP01146 ebcdic-gb-285+euro csIBM01146"},
    {kConv, "IBM1147", "IBM01147 CCSID01147 CP01147 ebcdic-fr-297+euro csIBM01147"},
    {kConv, "IBM1148", "IBM01148 CCSID01148 CP01148 ebcdic-international-500+euro csIBM01148"},
    {kConv, "IBM1149", "IBM01149 CCSID01149 CP01149 ebcdic-is-871+euro csIBM01149"},
    {kConv, "CP932", "Shift_JIS MS_Kanji csShiftJIS Windows-31J csWindows31J"},
    {kConv, "EUC-JP", "EUC-JP Extended_UNIX_Code_Packed_Format_for_Japanese csEUCPkdFmtJapanese"},
    {kConv, "ISO-2022-JP", "ISO-2022-JP csISO2022JP"},
    {kConv, "ISO-2022-JP-2", "ISO-2022-JP-2 csISO2022JP2"},
    {kConv, "EUC-KR", "EUC-KR csEUCKR"},
    {kConv, "CP949", "KS_C_5601-1987 iso-ir-149 KS_C_5601-1989 KSC_5601 korean csKSC56011987"},
    {kConv, "ISO-2022-KR", "ISO-2022-KR csISO2022KR"},
    {kConv, "GBK", "GBK CP936 MS936 windows-936 csGBK GB2312 csGB2312"},
    {kConv, "GB18030", "GB18030 csGB18030"},
    {kConv, "ISO-2022-CN", "ISO-2022-CN csISO2022CN"},
    {kConv, "ISO-2022-CN-EXT", "ISO-2022-CN-EXT csISO2022CNEXT"},
    {kConv, "BIG5", "Big5 csBig5"},
    {kConv, "BIG5-HKSCS", "Big5-HKSCS csBig5HKSCS"},
};

using RegistryIndex = std::unordered_map<std::string, RegisteredCharset>;

RegistryIndex buildIndex()
{
    RegistryIndex index;
    for (const RegistryEntry& entry : kRegistry) {
        const RegisteredCharset charset{entry.decoder, entry.converterName};
        std::string_view names = entry.names;
        while (!names.empty()) {
            const size_t space = names.find(' ');
            index.emplace(lowerAscii(std::string(names.substr(0, space))), charset);
            names = space == std::string_view::npos ? std::string_view() : names.substr(space + 1);
        }
    }
    return index;
}

} // namespace

std::optional<RegisteredCharset> findRegisteredCharset(std::string_view name)
{
    static const RegistryIndex index = buildIndex();
    const auto found = index.find(lowerAscii(trim(std::string(name))));
    if (found == index.end())
        return std::nullopt;
    return found->second;
}

} // namespace vornel::http
