#include "http/html_meta_scan.h"

#include "http/header_fields.h"
#include "http/received_text.h"

#include <cctype>
#include <optional>

namespace vornel::http {
namespace {

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' || c == '.';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : text_(text) {}

    MetaScanResult run();

private:
    enum class State { Outside, InHtml, InHead };

    // Moves past the next "<" and reads the tag name; false at the end of the text.
    bool nextTag(std::string& name);
    void skipPast(std::string_view marker);
    void skipElementContent(const std::string& name);
    void readMeta(MetaScanResult& result);
    std::optional<std::pair<std::string, std::string>> readAttribute();

    std::string_view text_;
    size_t pos_ = 0;
};

bool Scanner::nextTag(std::string& name)
{
    for (;;) {
        const size_t open = text_.find('<', pos_);
        if (open == std::string_view::npos) {
            pos_ = text_.size();
            return false;
        }
        pos_ = open + 1;
        if (pos_ < text_.size() && text_[pos_] == '?')
            ++pos_;
        if (text_.substr(pos_, 3) == "!--") {
            pos_ += 3;
            skipPast("-->");
            continue;
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && isNameChar(text_[pos_]))
            ++pos_;
        name = lowerAscii(std::string(text_.substr(start, pos_ - start)));
        return true;
    }
}

void Scanner::skipPast(std::string_view marker)
{
    const size_t found = text_.find(marker, pos_);
    pos_ = found == std::string_view::npos ? text_.size() : found + marker.size();
}

void Scanner::skipElementContent(const std::string& name)
{
    const std::string closing = "</" + name;
    while (pos_ < text_.size()) {
        const size_t open = text_.find('<', pos_);
        if (open == std::string_view::npos)
            break;
        pos_ = open + 1;
        if (lowerAscii(std::string(text_.substr(open, closing.size()))) == closing) {
            skipPast(">");
            return;
        }
    }
    pos_ = text_.size();
}

// name[=value] with the value quoted by ' or ", or bare up to a blank or ">".
std::optional<std::pair<std::string, std::string>> Scanner::readAttribute()
{
    while (pos_ < text_.size() && (isSpace(text_[pos_]) || text_[pos_] == '/'))
        ++pos_;
    if (pos_ >= text_.size() || text_[pos_] == '>')
        return std::nullopt;
    const size_t nameStart = pos_;
    while (pos_ < text_.size() && !isSpace(text_[pos_]) && text_[pos_] != '=' && text_[pos_] != '>')
        ++pos_;
    std::string name(text_.substr(nameStart, pos_ - nameStart));
    while (pos_ < text_.size() && isSpace(text_[pos_]))
        ++pos_;
    std::string value;
    if (pos_ < text_.size() && text_[pos_] == '=') {
        ++pos_;
        while (pos_ < text_.size() && isSpace(text_[pos_]))
            ++pos_;
        if (pos_ < text_.size() && (text_[pos_] == '"' || text_[pos_] == '\'')) {
            const char quote = text_[pos_++];
            const size_t end = text_.find(quote, pos_);
            const size_t stop = end == std::string_view::npos ? text_.size() : end;
            value = std::string(text_.substr(pos_, stop - pos_));
            pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        } else {
            const size_t start = pos_;
            while (pos_ < text_.size() && !isSpace(text_[pos_]) && text_[pos_] != '>')
                ++pos_;
            value = std::string(text_.substr(start, pos_ - start));
        }
    }
    return std::make_pair(name, value);
}

void Scanner::readMeta(MetaScanResult& result)
{
    const auto first = readAttribute();
    if (!first)
        return;
    if (equalsIgnoreCase(first->first, "http-equiv")) {
        std::string content;
        while (const auto attribute = readAttribute())
            if (equalsIgnoreCase(attribute->first, "content"))
                content = attribute->second;
        result.headerLines.push_back(receivedText(first->second) + ": " + receivedText(content));
    } else if (equalsIgnoreCase(first->first, "charset")) {
        result.charSet = receivedText(first->second);
    }
}

MetaScanResult Scanner::run()
{
    MetaScanResult result;
    State state = State::Outside;
    std::string name;
    while (nextTag(name)) {
        switch (state) {
        case State::Outside:
            if (name == "html")
                state = State::InHtml;
            break;
        case State::InHtml:
            if (name == "head")
                state = State::InHead;
            else if (name == "body" || name == "title")
                return result;
            break;
        case State::InHead:
            if (name == "title" || name == "script")
                skipElementContent(name);
            else if (name == "meta")
                readMeta(result);
            break;
        }
    }
    return result;
}

} // namespace

MetaScanResult scanHtmlMeta(std::string_view body)
{
    return Scanner(body).run();
}

} // namespace vornel::http
