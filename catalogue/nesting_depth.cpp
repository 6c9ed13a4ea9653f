#include "catalogue/nesting_depth.h"

#include "catalogue/open_elements.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace vornel::catalogue {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Reads the tags of a page as the HTML tokenizer splits them: names run to white space,
// "/" or ">", attribute values in quotes may hold ">" and "/", and a tag is self-closing
// only when "/>" ends it outside a value. Comments, doctypes and processing instructions
// are passed over.
class TagReader {
public:
    explicit TagReader(std::string_view html) : html_(html) {}

    enum class Token { StartTag, EndTag, Text, End };

    Token next()
    {
        while (at_ < html_.size()) {
            if (html_[at_] != '<')
                return text();
            if (const auto token = markup())
                return *token;
        }
        return Token::End;
    }

    const std::string& name() const { return name_; }
    std::string_view attributes() const { return attributes_; }
    bool selfClosing() const { return selfClosing_; }
    bool textHasContent() const { return textHasContent_; }

    // After a start tag whose content is raw text: passes over it to its end tag.
    void skipRawText(const std::string& name)
    {
        for (size_t end = html_.find("</", at_); end != std::string_view::npos; end = html_.find("</", end + 2)) {
            size_t after = end + 2;
            if (lowerName(after) == name) {
                at_ = end;
                return;
            }
        }
        at_ = html_.size();
    }

    void skipToEnd() { at_ = html_.size(); }

private:
    Token text()
    {
        const size_t end = std::min(html_.find('<', at_ + 1), html_.size());
        textHasContent_ = false;
        for (size_t i = at_; i < end && !textHasContent_; ++i)
            textHasContent_ = !isSpace(html_[i]);
        at_ = end;
        return Token::Text;
    }

    // The markup at "<": a tag, or nothing when it was a comment or the like (passed
    // over) or a lone "<" (passed over as text).
    std::optional<Token> markup()
    {
        const std::string_view rest = html_.substr(at_);
        if (rest.substr(0, 4) == "<!--") {
            at_ = endOfComment(at_ + 4);
            return std::nullopt;
        }
        const bool isEnd = rest.size() > 1 && rest[1] == '/';
        const size_t nameAt = at_ + (isEnd ? 2 : 1);
        if (nameAt < html_.size() && isLetter(html_[nameAt]))
            return tag(isEnd, nameAt);
        if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?' || isEnd)) {
            const size_t end = html_.find('>', at_ + 1);
            at_ = end == std::string_view::npos ? html_.size() : end + 1;
            return std::nullopt;
        }
        textHasContent_ = true;
        ++at_;
        return Token::Text;
    }

    // Just past a comment whose text starts at `from`: "<!-->" and "<!--->" end at once, and
    // "--!>" ends a comment as well as "-->".
    size_t endOfComment(size_t from) const
    {
        const std::string_view text = html_.substr(from);
        if (text.substr(0, 1) == ">")
            return from + 1;
        if (text.substr(0, 2) == "->")
            return from + 2;
        const size_t dashes = text.find("-->");
        const size_t bang = text.find("--!>");
        if (dashes == std::string_view::npos && bang == std::string_view::npos)
            return html_.size();
        return dashes <= bang ? from + dashes + 3 : from + bang + 4;
    }

    std::optional<Token> tag(bool isEnd, size_t nameAt)
    {
        at_ = nameAt;
        name_ = lowerName(at_);
        const size_t attributesAt = at_;
        selfClosing_ = false;
        while (at_ < html_.size()) {
            const char c = html_[at_];
            if (isSpace(c)) {
                ++at_;
            } else if (c == '>') {
                attributes_ = html_.substr(attributesAt, at_ - attributesAt);
                ++at_;
                return isEnd ? Token::EndTag : Token::StartTag;
            } else if (c == '/') {
                ++at_;
                selfClosing_ = at_ < html_.size() && html_[at_] == '>';
            } else {
                attribute();
            }
        }
        return Token::End; // a tag cut off by the end of the page is dropped
    }

    void attribute()
    {
        ++at_; // the first character belongs to the name, even "="
        while (at_ < html_.size() && !isSpace(html_[at_]) && html_[at_] != '/' && html_[at_] != '>' &&
               html_[at_] != '=')
            ++at_;
        skipSpaces();
        if (at_ >= html_.size() || html_[at_] != '=')
            return;
        ++at_;
        skipSpaces();
        if (at_ < html_.size() && (html_[at_] == '"' || html_[at_] == '\'')) {
            const size_t close = html_.find(html_[at_], at_ + 1);
            at_ = close == std::string_view::npos ? html_.size() : close + 1;
            return;
        }
        while (at_ < html_.size() && !isSpace(html_[at_]) && html_[at_] != '>')
            ++at_;
    }

    void skipSpaces()
    {
        while (at_ < html_.size() && isSpace(html_[at_]))
            ++at_;
    }

    std::string lowerName(size_t& at) const
    {
        std::string name;
        while (at < html_.size() && !isSpace(html_[at]) && html_[at] != '/' && html_[at] != '>')
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(html_[at++])));
        return name;
    }

    std::string_view html_;
    size_t at_ = 0;
    std::string name_;
    std::string_view attributes_;
    bool selfClosing_ = false;
    bool textHasContent_ = false;
};

} // namespace

NestingShape measureNesting(std::string_view html)
{
    TagReader reader(html);
    OpenElements open;
    NestingShape shape;
    for (auto token = reader.next(); token != TagReader::Token::End; token = reader.next()) {
        if (token != TagReader::Token::Text)
            shape.work += open.depth();
        switch (token) {
        case TagReader::Token::StartTag:
            switch (open.startTag(reader.name(), reader.attributes(), reader.selfClosing())) {
            case OpenElements::Content::RawText: reader.skipRawText(reader.name()); break;
            case OpenElements::Content::TextToTheEnd: reader.skipToEnd(); break;
            case OpenElements::Content::Markup: break;
            }
            break;
        case TagReader::Token::EndTag: open.endTag(reader.name()); break;
        case TagReader::Token::Text:
            if (reader.textHasContent())
                open.content();
            break;
        case TagReader::Token::End: break;
        }
        shape.deepest = open.deepest();
        if (!shape.withinLimits())
            break; // the verdict stands; counting on costs time for nothing
    }
    return shape;
}

size_t maxOpenElementDepth(std::string_view html)
{
    return measureNesting(html).deepest;
}

} // namespace vornel::catalogue
