#include "http/cookie.h"

namespace vornel::http {

using namespace std::chrono;

CookieTime sessionCookieExpiry()
{
    return CookieTime{sys_days{year{9999} / December / 31}} + hours{23} + minutes{59} + seconds{59} + milliseconds{999};
}

CookieTime longAgo()
{
    return CookieTime{sys_days{year{1} / January / 1}};
}

} // namespace vornel::http
