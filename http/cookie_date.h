#pragma once
// Reads the date of an Expires attribute the way browsers do (RFC 6265, section 5.1.1).
#include "http/cookie.h"

#include <optional>
#include <string_view>

namespace vornel::http {

// The moment the text names (taken as UTC), or nothing when no time, day of month, month
// and year can be found or they do not make a valid date.
std::optional<CookieTime> parseCookieDate(std::string_view text);

} // namespace vornel::http
