#include "catalogue/html_anchors.h"

#include "catalogue/inner_text.h"
#include "catalogue/nesting_depth.h"

#include <gumbo.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace vornel::catalogue {

namespace {

struct ParsedPage {
    GumboOptions options = kGumboDefaultOptions;
    GumboOutput* output = nullptr;

    explicit ParsedPage(const std::string& html)
    {
        if (!measureNesting(html).withinLimits())
            throw std::runtime_error("The page nests its elements too deeply to be read");
        options.max_errors = 0; // parse errors are of no use here; do not collect them
        output = gumbo_parse_with_options(&options, html.data(), html.size());
        if (!output)
            throw std::runtime_error("The page could not be parsed");
    }
    ~ParsedPage() { gumbo_destroy_output(&options, output); }
    ParsedPage(const ParsedPage&) = delete;
    ParsedPage& operator=(const ParsedPage&) = delete;
};

bool isAnchor(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
           node->v.element.tag == GUMBO_TAG_A;
}

std::string hrefOf(const GumboNode* anchor)
{
    const GumboAttribute* href = gumbo_get_attribute(&anchor->v.element.attributes, "href");
    return href ? href->value : "";
}

// Elements in document order. Template contents belong to no document and are skipped.
template <typename Visit>
void forEachElement(const GumboNode* root, Visit visit)
{
    std::vector<const GumboNode*> pending{root};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        visit(node);
        const GumboVector& children = node->v.element.children;
        for (unsigned i = children.length; i > 0; --i)
            pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
    }
}

} // namespace

void forEachAnchor(const std::string& html, const AnchorVisitor& visit)
{
    const ParsedPage page(html);
    forEachElement(page.output->root, [&](const GumboNode* element) {
        if (isAnchor(element))
            visit(hrefOf(element), innerText(element));
    });
}

} // namespace vornel::catalogue
