#pragma once
// A bound on a whole request, from its start to the end of its body: a server that keeps
// sending a byte now and then cannot hold the request beyond it.
#include <chrono>
#include <optional>

namespace vornel::http {

class RequestDeadline {
public:
    using Clock = std::chrono::steady_clock;

    RequestDeadline() = default; // no bound
    // A bound ms from now; none when ms is 0 or less.
    static RequestDeadline after(int ms);

    bool bounded() const { return at_.has_value(); }
    bool passed() const;
    // Milliseconds until the bound, at most cap (cap without a bound); 0 once it has passed.
    int msLeft(int cap) const;
    // Fails with kind "EIdReadTimeout", "Read timed out." once the bound has passed.
    void check() const;

private:
    std::optional<Clock::time_point> at_;
};

} // namespace vornel::http
