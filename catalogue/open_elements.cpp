#include "catalogue/open_elements.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>

namespace vornel::catalogue {

namespace {

using Names = std::initializer_list<std::string_view>;

bool isOneOf(std::string_view name, Names names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// What the tree builder's rules say about an element, as bits; looked up once per tag.
enum Kind : unsigned {
    Void = 1u << 0,            // holds nothing
    Singleton = 1u << 1,       // html, head, body: the parser keeps one whatever the page repeats
    Formatting = 1u << 2,      // goes into the list of active formatting elements
    Marker = 1u << 3,          // its start puts a marker into that list
    Special = 1u << 4,         // stops the search of an end tag that does not match it
    ClosesParagraph = 1u << 5, // its start closes an open p first
    Heading = 1u << 6,
    RawText = 1u << 7,       // its content is text up to its own end tag
    LeavesForeign = 1u << 8, // its start ends svg or math content
    TablePart = 1u << 9,
    IntegrationPoint = 1u << 10, // a foreign element whose content is HTML again
    BoundsScope = 1u << 11,      // ends the search of "in scope"
};

std::unordered_map<std::string_view, unsigned> makeKindTable()
{
    std::unordered_map<std::string_view, unsigned> table;
    const auto add = [&](unsigned kind, Names names) {
        for (std::string_view name : names)
            table[name] |= kind;
    };
    add(Void | Special, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img",
                         "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
    add(Singleton | Special, {"html", "head", "body", "frameset"});
    add(Formatting, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"});
    add(Marker | Special, {"applet", "caption", "marquee", "object", "td", "th", "template"});
    add(Special,
        {"address", "article",   "aside", "blockquote", "button",   "center",     "colgroup", "dd",       "details",
         "dir",     "div",       "dl",    "dt",         "fieldset", "figcaption", "figure",   "footer",   "form",
         "h1",      "h2",        "h3",    "h4",         "h5",       "h6",         "header",   "hgroup",   "iframe",
         "li",      "listing",   "main",  "menu",       "nav",      "noembed",    "noframes", "noscript", "ol",
         "p",       "plaintext", "pre",   "script",     "section",  "select",     "style",    "summary",  "table",
         "tbody",   "textarea",  "tfoot", "thead",      "title",    "tr",         "ul",       "xmp"});
    add(ClosesParagraph,
        {"address",   "article",    "aside",   "blockquote", "center",  "details", "dialog", "dir", "div", "dl",
         "fieldset",  "figcaption", "figure",  "footer",     "form",    "h1",      "h2",     "h3",  "h4",  "h5",
         "h6",        "header",     "hgroup",  "hr",         "listing", "main",    "menu",   "nav", "ol",  "p",
         "plaintext", "pre",        "section", "summary",    "table",   "ul",      "xmp"});
    add(Heading, {"h1", "h2", "h3", "h4", "h5", "h6"});
    add(RawText, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
    add(LeavesForeign,
        {"b",      "big",     "blockquote", "body", "br",    "center", "code", "dd",  "div",  "dl", "dt",    "em",
         "embed",  "font",    "h1",         "h2",   "h3",    "h4",     "h5",   "h6",  "head", "hr", "i",     "img",
         "li",     "listing", "menu",       "meta", "nobr",  "ol",     "p",    "pre", "ruby", "s",  "small", "span",
         "strong", "strike",  "sub",        "sup",  "table", "tt",     "u",    "ul",  "var"});
    add(TablePart, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "colgroup"});
    add(IntegrationPoint, {"foreignobject", "desc", "title", "mi", "mo", "mn", "ms", "mtext", "annotation-xml"});
    add(BoundsScope, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"});
    return table;
}

unsigned kindsOf(std::string_view name)
{
    static const std::unordered_map<std::string_view, unsigned> table = makeKindTable();
    const auto found = table.find(name);
    return found == table.end() ? 0 : found->second;
}

// Whether the start of a table part closes an open one (with what it holds): a cell closes
// a cell, a row a row, a section or caption a section or caption.
bool closedByTablePart(std::string_view start, std::string_view open)
{
    if (start == "td" || start == "th")
        return open == "td" || open == "th";
    if (start == "tr")
        return open == "tr";
    return isOneOf(open, {"tbody", "thead", "tfoot", "caption", "colgroup"});
}

constexpr size_t npos = static_cast<size_t>(-1);

} // namespace

OpenElements::Content OpenElements::startTag(const std::string& name, std::string_view attributes, bool selfClosing)
{
    const unsigned kinds = kindsOf(name);
    if (kinds & Singleton)
        return Content::Markup;
    if (inForeignContent()) {
        if (!(kinds & LeavesForeign)) {
            if (!selfClosing)
                push(name, true);
            return Content::Markup;
        }
        while (inForeignContent())
            popFrom(stack_.size() - 1);
    }

    if ((kinds & TablePart) && !inTable())
        return Content::Markup; // the parser drops a row or cell that no table holds
    closeBeforeStart(name, kinds);
    reconstructFormatting();
    if (name == "svg" || name == "math") {
        if (!selfClosing)
            push(name, true);
        return Content::Markup;
    }
    // Void elements hold nothing, and the text of a raw-text element is not markup: neither
    // adds to the depth of what follows.
    if (kinds & Void)
        return Content::Markup;
    if (name == "plaintext")
        return Content::TextToTheEnd;
    if (kinds & RawText)
        return Content::RawText;
    if (kinds & Formatting) {
        addFormatting(name, attributes);
        push(name, false, formatting_.back().id);
    } else {
        push(name, false);
        if (kinds & Marker)
            formatting_.push_back({name, {}, 0});
    }
    return Content::Markup;
}

// What a start tag closes before it opens: an open p, a sibling list item, cell or row.
void OpenElements::closeBeforeStart(const std::string& name, unsigned kinds)
{
    if (kinds & ClosesParagraph) {
        if (const size_t p = inScope("p", Scope::Button); p != npos)
            popFrom(p);
    }
    if ((kinds & Heading) && !stack_.empty() && (stack_.back().kinds & Heading))
        popFrom(stack_.size() - 1);
    if (name == "li" || name == "dd" || name == "dt") {
        for (size_t i = stack_.size(); i-- > 0;) {
            const std::string& open = stack_[i].name;
            const bool sibling = name == "li" ? open == "li" : (open == "dd" || open == "dt");
            if (sibling) {
                popFrom(i);
                break;
            }
            if (stack_[i].special && !isOneOf(open, {"address", "div", "p"}))
                break;
        }
    }
    if (name == "option" || name == "optgroup") {
        if (!stack_.empty() && stack_.back().name == "option")
            popFrom(stack_.size() - 1);
    }
    if (name == "button") {
        if (const size_t button = inScope("button", Scope::Default); button != npos)
            popFrom(button);
    }
    if (name == "a") {
        if (const size_t entry = lastEntryAfterMarker("a"); entry != npos)
            formattingEndTag(entry);
    }
    if (kinds & TablePart) {
        for (size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].name == "table" || stack_[i].name == "template")
                break;
            if (closedByTablePart(name, stack_[i].name)) {
                popFrom(i);
                break;
            }
        }
        openImpliedTableParents(name);
    }
}

// A row straight in a table gets a body section, a cell straight in a section a row, as
// the parser inserts them.
void OpenElements::openImpliedTableParents(const std::string& name)
{
    const bool cell = name == "td" || name == "th";
    if (!cell && name != "tr")
        return;
    if (!stack_.empty() && stack_.back().name == "table")
        push("tbody", false);
    if (cell && !stack_.empty() && isOneOf(stack_.back().name, {"tbody", "thead", "tfoot"}))
        push("tr", false);
}

void OpenElements::endTag(const std::string& name)
{
    const unsigned kinds = kindsOf(name);
    if ((kinds & Singleton) || name == "br")
        return;
    if (inForeignContent() && foreignEndTag(name))
        return;
    if (name == "p" || name == "li" || name == "dd" || name == "dt") {
        const Scope scope = name == "p" ? Scope::Button : name == "li" ? Scope::ListItem : Scope::Default;
        if (const size_t open = inScope(name, scope); open != npos)
            popFrom(open);
        return;
    }
    if (kinds & Formatting) {
        if (const size_t entry = lastEntryAfterMarker(name); entry != npos)
            formattingEndTag(entry);
        else
            otherEndTag(name);
        return;
    }
    if (kinds & Special) {
        const bool tablePart = (kinds & TablePart) || name == "table";
        if (const size_t open = inScope(name, tablePart ? Scope::Table : Scope::Default); open != npos)
            popFrom(open);
        return;
    }
    otherEndTag(name);
}

// In svg or math an end tag closes the nearest foreign element of its name; true when it did.
bool OpenElements::foreignEndTag(const std::string& name)
{
    for (size_t i = stack_.size(); i-- > 0 && stack_[i].foreign;) {
        if (stack_[i].name == name) {
            popFrom(i);
            return true;
        }
    }
    return false;
}

// An end tag of an element in the formatting list. Where a block stands between the
// element and the current node, the parser moves elements around (the adoption agency);
// the model only takes the formatting element out, which leaves at least as many open.
void OpenElements::formattingEndTag(size_t entry)
{
    const uint64_t id = formatting_[entry].id;
    formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(entry));
    if (!openFormatting_.count(id))
        return;
    size_t at = stack_.size();
    bool blockAbove = false;
    while (at-- > 0 && stack_[at].formattingId != id)
        blockAbove = blockAbove || stack_[at].special;
    if (blockAbove)
        removeAt(at);
    else
        popFrom(at);
}

// Any other end tag closes the nearest open element of its name, unless a special element
// (a block, a table part, ...) stands in the way: then it is ignored.
void OpenElements::otherEndTag(const std::string& name)
{
    for (size_t i = stack_.size(); i-- > 0;) {
        if (!stack_[i].foreign && stack_[i].name == name) {
            popFrom(i);
            return;
        }
        if (stack_[i].special)
            return;
    }
}

void OpenElements::content()
{
    if (!inForeignContent())
        reconstructFormatting();
}

// Whether a table is open with nothing but its own parts and their content above it.
bool OpenElements::inTable() const
{
    for (size_t i = stack_.size(); i-- > 0;) {
        if (stack_[i].foreign)
            continue;
        if (stack_[i].name == "table")
            return true;
        if (stack_[i].name == "template")
            return false;
    }
    return false;
}

// The current node is an svg or math element whose content is not HTML.
bool OpenElements::inForeignContent() const
{
    return !stack_.empty() && stack_.back().foreign && !(stack_.back().kinds & IntegrationPoint);
}

void OpenElements::push(const std::string& name, bool foreign, uint64_t formattingId)
{
    const unsigned kinds = kindsOf(name);
    const bool special = foreign || (kinds & Special);
    const bool boundsScope = foreign ? (kinds & IntegrationPoint) : (kinds & BoundsScope);
    stack_.push_back({name, foreign, formattingId, kinds, special, boundsScope});
    if (formattingId != 0)
        openFormatting_.insert(formattingId);
    deepest_ = std::max(deepest_, stack_.size());
}

void OpenElements::popFrom(size_t index)
{
    while (stack_.size() > index) {
        const Element& top = stack_.back();
        if (top.formattingId != 0)
            openFormatting_.erase(top.formattingId);
        const bool marker = !top.foreign && (top.kinds & Marker);
        stack_.pop_back();
        if (marker)
            clearFormattingToMarker();
    }
}

void OpenElements::removeAt(size_t index)
{
    if (stack_[index].formattingId != 0)
        openFormatting_.erase(stack_[index].formattingId);
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(index));
}

size_t OpenElements::inScope(std::string_view name, Scope scope) const
{
    for (size_t i = stack_.size(); i-- > 0;) {
        const Element& element = stack_[i];
        if (!element.foreign && element.name == name)
            return i;
        if (element.boundsScope)
            return npos;
        if (element.foreign || scope == Scope::Table)
            continue;
        if ((scope == Scope::Button && element.name == "button") ||
            (scope == Scope::ListItem && (element.name == "ol" || element.name == "ul")))
            return npos;
    }
    return npos;
}

size_t OpenElements::lastEntryAfterMarker(std::string_view name) const
{
    for (size_t i = formatting_.size(); i-- > 0 && formatting_[i].id != 0;)
        if (formatting_[i].name == name)
            return i;
    return npos;
}

// Formatting elements that a block closed while still in the list are opened again.
void OpenElements::reconstructFormatting()
{
    size_t first = formatting_.size();
    while (first > 0 && formatting_[first - 1].id != 0 && !openFormatting_.count(formatting_[first - 1].id))
        --first;
    for (size_t i = first; i < formatting_.size(); ++i)
        push(formatting_[i].name, false, formatting_[i].id);
}

// A formatting element joins the list; of identical ones (same name and attributes) after
// the last marker only the three newest stay.
void OpenElements::addFormatting(const std::string& name, std::string_view attributes)
{
    size_t identical = 0;
    size_t earliest = npos;
    for (size_t i = formatting_.size(); i-- > 0 && formatting_[i].id != 0;) {
        if (formatting_[i].name == name && formatting_[i].attributes == attributes) {
            ++identical;
            earliest = i;
        }
    }
    if (identical >= 3)
        formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(earliest));
    formatting_.push_back({name, std::string(attributes), nextId_++});
}

void OpenElements::clearFormattingToMarker()
{
    while (!formatting_.empty()) {
        const bool marker = formatting_.back().id == 0;
        formatting_.pop_back();
        if (marker)
            return;
    }
}

} // namespace vornel::catalogue
