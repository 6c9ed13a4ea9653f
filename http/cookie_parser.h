#pragma once
// Turns the value of one Set-Cookie header into a cookie.
#include "http/cookie.h"

#include <optional>
#include <string_view>

namespace vornel::http {

// The cookie the header sets for that request, created at `now`; nothing when the header
// is malformed or the cookie may not be set by that request's host.
std::optional<Cookie> parseSetCookie(std::string_view headerValue, const CookieRequest& request, CookieTime now);

} // namespace vornel::http
