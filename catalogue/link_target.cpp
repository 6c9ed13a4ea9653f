#include "catalogue/link_target.h"

#include <cctype>

namespace vornel::catalogue {

namespace {

const std::string kBlank = "about:blank";

bool isUrlWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string trimUrlWhiteSpace(const std::string& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isUrlWhiteSpace(text[first]))
        ++first;
    while (last > first && isUrlWhiteSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// A scheme is an ASCII letter followed by letters, digits, "+", "-" or ".", then ":".
bool hasScheme(const std::string& reference)
{
    if (reference.empty() || !std::isalpha(static_cast<unsigned char>(reference[0])))
        return false;
    for (size_t i = 1; i < reference.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(reference[i]);
        if (c == ':')
            return true;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string withoutBlank(std::string text)
{
    for (size_t at = text.find(kBlank); at != std::string::npos; at = text.find(kBlank, at))
        text.erase(at, kBlank.size());
    return text;
}

} // namespace

std::string documentTarget(const std::string& href)
{
    const std::string reference = trimUrlWhiteSpace(href);
    if (reference.empty() || hasScheme(reference))
        return reference;
    return kBlank + reference;
}

std::string linkUrlFromTarget(const std::string& target, const std::string& pageBase)
{
    const bool http = contains(target, "http");
    const bool blank = contains(target, kBlank);
    const bool ftp = contains(target, "ftp");
    const bool absolute = (http && (!blank || ftp)) || (ftp && !blank);
    if (absolute)
        return target;
    return pageBase + withoutBlank(target);
}

} // namespace vornel::catalogue
