#pragma once
// Turning an anchor's href into the link URL that the playlist keeps.
#include <string>

namespace vornel::catalogue {

// The anchor's target as an HTML document without an address of its own reports it: an
// absolute reference (one with a scheme, "http:", "mailto:", ...) as written, a relative
// one as "about:blank" followed by the reference as written, and "" for a missing href.
// Surrounding ASCII white space is stripped first, as URL parsing does.
std::string documentTarget(const std::string& href);

// Makes a reported target absolute against the page base (scheme "://" host):
//  - it contains "http" and either lacks "about:blank" or contains "ftp": kept as it is;
//  - it contains "ftp" and neither "http" nor "about:blank" (an FTP or other absolute
//    link that names ftp): kept as it is, since such a target was never relative;
//  - otherwise every "about:blank" is removed and the base is put in front.
// All tests are case-sensitive substring tests.
std::string linkUrlFromTarget(const std::string& target, const std::string& pageBase);

} // namespace vornel::catalogue
