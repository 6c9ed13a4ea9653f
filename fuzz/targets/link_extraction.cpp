// Link extraction from a page: "page URL \n page". Every anchor's target is classified
// against the page base and filtered by the file-host marker, as a page load does. The
// nesting-depth guard must not let a page through that the parser nests far deeper than
// the guard counted: that is how the parser's quadratic work came back before.
#include "catalogue/html_anchors.h"
#include "catalogue/link_extraction.h"
#include "catalogue/link_target.h"
#include "catalogue/nesting_depth.h"
#include "catalogue/page_urls.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/support/parsed_depth.h"

#include <cstdlib>
#include <stdexcept>

using namespace vornel::catalogue;
using vornel::fuzz::parsedDepth;

namespace {

// The guard may count a few elements fewer than the parser (html, body, parts the parser
// inserts), never a multiple fewer.
void checkGuard(const std::string& page, const NestingShape& shape)
{
    if (shape.withinLimits() && parsedDepth(page) > 2 * shape.deepest + 16)
        std::abort();
}

} // namespace

VORNEL_FUZZ_TARGET(link_extraction)
{
    vornel::fuzz::FuzzInput input(data, size);
    const std::string base = pageBase(input.textUntil('\n'));
    const std::string page = input.rest();
    checkGuard(page, measureNesting(page));
    try {
        forEachAnchor(page, [&](const std::string& href, const std::string& text) {
            const std::string url = linkUrlFromTarget(documentTarget(href), base);
            (void)containsFileHostMarker(url, "127.0.0.2");
            (void)text;
        });
    } catch (const std::runtime_error&) {}
    return 0;
}
