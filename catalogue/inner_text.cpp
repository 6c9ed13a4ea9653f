#include "catalogue/inner_text.h"

#include <algorithm>
#include <vector>

namespace vornel::catalogue {

namespace {

bool isCollapsible(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isHtml(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

bool isNeverRendered(const GumboNode* node)
{
    if (node->type == GUMBO_NODE_TEMPLATE)
        return true;
    if (!isHtml(node))
        return false;
    if (gumbo_get_attribute(&node->v.element.attributes, "hidden"))
        return true;
    switch (node->v.element.tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE: return true;
    default: return false;
    }
}

// Line breaks that the element asks for before and after itself.
int requiredBreaks(const GumboNode* node)
{
    if (!isHtml(node))
        return 0;
    switch (node->v.element.tag) {
    case GUMBO_TAG_P: return 2;
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_XMP: return 1;
    default: return 0;
    }
}

bool preservesWhiteSpace(const GumboNode* node)
{
    if (!isHtml(node))
        return false;
    const GumboTag tag = node->v.element.tag;
    return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_XMP || tag == GUMBO_TAG_PLAINTEXT;
}

bool isTableCell(const GumboNode* node)
{
    return isHtml(node) && (node->v.element.tag == GUMBO_TAG_TD || node->v.element.tag == GUMBO_TAG_TH);
}

bool hasFollowingCell(const GumboNode* cell)
{
    const GumboNode* parent = cell->parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT)
        return false;
    const GumboVector& siblings = parent->v.element.children;
    for (size_t i = cell->index_within_parent + 1; i < siblings.length; ++i)
        if (isTableCell(static_cast<const GumboNode*>(siblings.data[i])))
            return true;
    return false;
}

const GumboVector* childrenOf(const GumboNode* node)
{
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE)
        return &node->v.element.children;
    return nullptr;
}

bool startsCharacter(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

// Collects text with collapsed white space; breaks and spaces wait until content follows,
// so none are left at either end or at the end of a line. Stops at kMaxInnerTextLength
// characters.
class TextBuilder {
public:
    bool full() const { return characters_ >= kMaxInnerTextLength; }

    void collapsed(const char* text, size_t length)
    {
        size_t i = 0;
        while (i < length) {
            if (isCollapsible(text[i])) {
                pendingSpace_ = true;
                ++i;
                continue;
            }
            size_t end = i;
            while (end < length && !isCollapsible(text[end]))
                ++end;
            content(text + i, end - i);
            i = end;
        }
    }

    void preserved(const char* text, size_t length)
    {
        if (length > 0)
            content(text, length);
    }

    void requireBreaks(int count)
    {
        pendingBreaks_ = std::max(pendingBreaks_, count);
        pendingSpace_ = false;
    }

    void lineBreak()
    {
        flushBreaks();
        pendingSpace_ = false;
        append("\n", 1);
        atLineStart_ = true;
    }

    void tab()
    {
        pendingSpace_ = false;
        content("\t", 1);
    }

    std::string result() const
    {
        const char* ends = " \t\n\r\f";
        const size_t first = out_.find_first_not_of(ends);
        if (first == std::string::npos)
            return {};
        return out_.substr(first, out_.find_last_not_of(ends) - first + 1);
    }

private:
    void flushBreaks()
    {
        if (pendingBreaks_ > 0 && !out_.empty()) {
            append("\n\n", static_cast<size_t>(std::min(pendingBreaks_, 2)));
            atLineStart_ = true;
            pendingSpace_ = false;
        }
        pendingBreaks_ = 0;
    }

    void content(const char* text, size_t length)
    {
        flushBreaks();
        if (pendingSpace_ && !atLineStart_)
            append(" ", 1);
        pendingSpace_ = false;
        append(text, length);
        atLineStart_ = text[length - 1] == '\n';
    }

    // Appends whole characters while the bound allows.
    void append(const char* text, size_t length)
    {
        size_t end = 0;
        for (; end < length; ++end) {
            if (startsCharacter(text[end])) {
                if (characters_ == kMaxInnerTextLength)
                    break;
                ++characters_;
            }
        }
        out_.append(text, end);
    }

    std::string out_;
    int pendingBreaks_ = 0;
    bool pendingSpace_ = false;
    bool atLineStart_ = true;
    size_t characters_ = 0;
};

class InnerTextWalk {
public:
    std::string run(const GumboNode* root)
    {
        // An explicit stack: deeply nested pages must not exhaust the thread's stack.
        struct Frame {
            const GumboNode* node;
            unsigned next;
        };
        std::vector<Frame> stack{{root, 0}};
        while (!stack.empty() && !text_.full()) {
            Frame& top = stack.back();
            const GumboVector* children = childrenOf(top.node);
            if (children && top.next < children->length) {
                const GumboNode* child = static_cast<const GumboNode*>(children->data[top.next++]);
                if (enter(child))
                    stack.push_back({child, 0});
                continue;
            }
            leave(top.node);
            stack.pop_back();
        }
        return text_.result();
    }

private:
    // Handles a node as the walk reaches it; true when its children are to be visited.
    bool enter(const GumboNode* node)
    {
        switch (node->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA: addText(node->v.text.text); return false;
        case GUMBO_NODE_ELEMENT: break;
        default: return false;
        }
        if (isNeverRendered(node))
            return false;
        if (isHtml(node) && node->v.element.tag == GUMBO_TAG_BR) {
            text_.lineBreak();
            return false;
        }
        if (const int breaks = requiredBreaks(node))
            text_.requireBreaks(breaks);
        if (preservesWhiteSpace(node))
            ++preserveDepth_;
        return true;
    }

    void leave(const GumboNode* node)
    {
        if (node->type != GUMBO_NODE_ELEMENT)
            return;
        if (const int breaks = requiredBreaks(node))
            text_.requireBreaks(breaks);
        if (preservesWhiteSpace(node))
            --preserveDepth_;
        if (isTableCell(node) && hasFollowingCell(node))
            text_.tab();
    }

    void addText(const char* text)
    {
        const size_t length = std::char_traits<char>::length(text);
        if (preserveDepth_ > 0)
            text_.preserved(text, length);
        else
            text_.collapsed(text, length);
    }

    TextBuilder text_;
    int preserveDepth_ = 0;
};

} // namespace

std::string innerText(const GumboNode* element)
{
    return InnerTextWalk().run(element);
}

} // namespace vornel::catalogue
