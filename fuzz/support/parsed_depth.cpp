#include "fuzz/support/parsed_depth.h"

#include <gumbo.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace vornel::fuzz {
namespace {

bool holdsElements(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

} // namespace

size_t parsedDepth(const std::string& page)
{
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    size_t deepest = 0;
    // A list of its own rather than recursion: the tree may be far deeper than the stack.
    std::vector<std::pair<const GumboNode*, size_t>> pending{{output->root, 1}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        if (!holdsElements(node))
            continue;
        const GumboVector& children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* child = static_cast<const GumboNode*>(children.data[i]);
            if (holdsElements(child))
                pending.emplace_back(child, depth + 1);
        }
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return deepest;
}

} // namespace vornel::fuzz
