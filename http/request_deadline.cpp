#include "http/request_deadline.h"

#include "http/http_error.h"

#include <algorithm>

namespace vornel::http {

RequestDeadline RequestDeadline::after(int ms)
{
    RequestDeadline deadline;
    if (ms > 0)
        deadline.at_ = Clock::now() + std::chrono::milliseconds(ms);
    return deadline;
}

bool RequestDeadline::passed() const
{
    return at_ && Clock::now() >= *at_;
}

int RequestDeadline::msLeft(int cap) const
{
    if (!at_)
        return cap;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, cap));
}

void RequestDeadline::check() const
{
    if (passed())
        throw HttpError(FailureKind::ReadTimeout, "Read timed out.");
}

} // namespace vornel::http
