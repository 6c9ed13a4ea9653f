// URI splitting and the resolution of a relative path: "url \n basePath \n newPath".
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "http/uri.h"

VORNEL_FUZZ_TARGET(uri)
{
    vornel::fuzz::FuzzInput input(data, size);
    const std::string url = input.textUntil('\n');
    const std::string basePath = input.textUntil('\n');
    const std::string newPath = input.rest();
    const vornel::http::UriParts parts = vornel::http::splitUri(url);
    (void)parts.pathAndParams();
    (void)vornel::http::resolvePath(basePath, newPath);
    (void)vornel::http::resolvePath(parts.path, newPath);
    return 0;
}
