// Set-Cookie values, cookie dates and the Cookie header: "host \n path \n" then one
// Set-Cookie value per line; the store then gives the header for the same request and
// for its https and sub-path siblings.
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"
#include "http/cookie_date.h"
#include "http/cookie_parser.h"
#include "http/cookie_store.h"

#include <chrono>

using namespace vornel::http;

VORNEL_FUZZ_TARGET(cookies)
{
    vornel::fuzz::FuzzInput input(data, size);
    CookieRequest request{"http", input.textUntil('\n'), input.textUntil('\n')};
    if (request.host.empty())
        request.host = "example.com";
    if (request.path.empty() || request.path.back() != '/')
        request.path += '/';
    const CookieTime now{std::chrono::milliseconds(1'700'000'000'000)};
    CookieStore store([now] { return now; });
    while (!input.empty()) {
        const std::string value = input.textUntil('\n');
        (void)parseCookieDate(value);
        (void)parseSetCookie(value, request, now);
        store.takeSetCookie(value, request);
    }
    (void)store.cookieHeader(request);
    (void)store.cookieHeader({"https", request.host, request.path + "sub/"});
    (void)store.cookies();
    return 0;
}
