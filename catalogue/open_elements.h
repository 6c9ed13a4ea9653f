#pragma once
// A model of the HTML5 tree builder's stack of open elements, fed with tags, that follows
// how deep the parser will nest a page's elements without building the page: a
// self-closing tag of a non-void element still opens it, an end tag closes only when its
// element is open in scope, elements that a sibling closes by itself (p, li, td, ...) are
// closed, and formatting elements that a block closed are opened again before the next
// content, as the parser reconstructs them. Where the parser's rules are not followed in
// full, the model keeps more elements open than the parser, never fewer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vornel::catalogue {

class OpenElements {
public:
    enum class Content { Markup, RawText, TextToTheEnd };

    // Names are in lower case; attributes are the tag's attribute text as written.
    Content startTag(const std::string& name, std::string_view attributes, bool selfClosing);
    void endTag(const std::string& name);
    // Text other than white space.
    void content();

    size_t depth() const { return stack_.size(); }
    size_t deepest() const { return deepest_; }

private:
    struct Element {
        std::string name;
        bool foreign = false;      // inside svg or math
        uint64_t formattingId = 0; // its entry in the formatting list, 0 when none
        unsigned kinds = 0;        // what the parser's rules say about its name
        bool special = false;      // a block, table part, ... that stops end-tag searches
        bool boundsScope = false;  // ends the search of "in scope"
    };
    struct FormattingEntry {
        std::string name;
        std::string attributes;
        uint64_t id = 0; // 0: a marker
    };
    enum class Scope { Default, Button, ListItem, Table };

    void push(const std::string& name, bool foreign, uint64_t formattingId = 0);
    void popFrom(size_t index);
    void removeAt(size_t index);
    // Index of the open HTML element of that name within the scope, or npos.
    size_t inScope(std::string_view name, Scope scope) const;
    size_t lastEntryAfterMarker(std::string_view name) const;
    void reconstructFormatting();
    void addFormatting(const std::string& name, std::string_view attributes);
    void clearFormattingToMarker();
    bool inForeignContent() const;
    bool inTable() const;
    void closeBeforeStart(const std::string& name, unsigned kinds);
    void openImpliedTableParents(const std::string& name);
    bool foreignEndTag(const std::string& name);
    void formattingEndTag(size_t entry);
    void otherEndTag(const std::string& name);

    std::vector<Element> stack_;
    std::vector<FormattingEntry> formatting_;
    std::unordered_set<uint64_t> openFormatting_; // ids of formatting entries on the stack
    uint64_t nextId_ = 1;
    size_t deepest_ = 0;
};

} // namespace vornel::catalogue
