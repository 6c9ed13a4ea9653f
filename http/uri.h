#pragma once
// Cuts a URL into its parts by a fixed order of cuts (nothing is checked, decoded or
// encoded), and resolves a relative path against the path of an earlier request.
#include <string>

namespace vornel::http {

struct UriParts {
    std::string url; // the whole text after backslash normalisation
    std::string protocol;
    std::string username;
    std::string password;
    std::string host; // an IPv6 address without its brackets
    std::string port; // unchecked text
    std::string path; // directory part: "/.../" for an absolute URL, maybe empty otherwise
    std::string document;
    std::string params;   // the query, without "?"
    std::string bookmark; // the fragment, without "#"
    bool ipv6 = false;

    // path + document + ("?" + params when params is not empty): the request target.
    std::string pathAndParams() const;
};

UriParts splitUri(const std::string& url);

// The path to request when newPath comes from a URL given after a request for basePath.
std::string resolvePath(const std::string& basePath, const std::string& newPath);

} // namespace vornel::http
