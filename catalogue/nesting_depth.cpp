#include "catalogue/nesting_depth.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace vornel::catalogue {

namespace {

// Elements that never hold children, or that the parser closes by itself when a sibling
// or the parent's end comes.
constexpr std::array<std::string_view, 32> kNotCounted = {
    "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
    "source", "track", "wbr", "keygen", "frame", "p", "li", "dt", "dd", "option", "optgroup",
    "tr", "td", "th", "thead", "tbody", "tfoot", "colgroup", "caption", "html", "body"};

// Elements whose content is text up to their own end tag.
constexpr std::array<std::string_view, 7> kRawText = {"script", "style", "textarea", "title",
                                                      "xmp", "iframe", "noembed"};

template <size_t N>
bool isOneOf(const std::string& name, const std::array<std::string_view, N>& names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string lowerTagName(std::string_view html, size_t& at)
{
    std::string name;
    while (at < html.size() && (std::isalnum(static_cast<unsigned char>(html[at])) || html[at] == '-'))
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[at++])));
    return name;
}

// Position just past the end of the tag that starts before `at`, or npos.
size_t endOfTag(std::string_view html, size_t at, bool& selfClosing)
{
    const size_t close = html.find('>', at);
    selfClosing = close != std::string_view::npos && close > 0 && html[close - 1] == '/';
    return close == std::string_view::npos ? close : close + 1;
}

size_t skipRawText(std::string_view html, size_t at, const std::string& name)
{
    for (size_t end = html.find("</", at); end != std::string_view::npos; end = html.find("</", end + 2)) {
        size_t nameAt = end + 2;
        if (lowerTagName(html, nameAt) == name)
            return end;
    }
    return html.size();
}

} // namespace

size_t maxOpenElementDepth(std::string_view html)
{
    size_t depth = 0;
    size_t deepest = 0;
    size_t at = 0;
    while ((at = html.find('<', at)) != std::string_view::npos) {
        ++at;
        if (html.substr(at, 3) == "!--") {
            const size_t end = html.find("-->", at + 3);
            at = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const bool isEnd = at < html.size() && html[at] == '/';
        if (isEnd)
            ++at;
        const std::string name = lowerTagName(html, at);
        if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])))
            continue;
        bool selfClosing = false;
        at = endOfTag(html, at, selfClosing);
        if (at == std::string_view::npos)
            break;
        if (isEnd) {
            if (!isOneOf(name, kNotCounted) && depth > 0)
                --depth;
            continue;
        }
        if (isOneOf(name, kRawText)) {
            at = skipRawText(html, at, name);
            continue;
        }
        if (selfClosing || isOneOf(name, kNotCounted))
            continue;
        deepest = std::max(deepest, ++depth);
    }
    return deepest;
}

} // namespace vornel::catalogue
