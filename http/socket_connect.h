#pragma once
// Name resolution and the TCP connect of a request, with failures mapped onto the
// socket error numbers of http_error.h.
#include "http/request_deadline.h"

#include <atomic>
#include <string>

namespace vornel::http {

// The failure of a request that abort() broke off.
[[noreturn]] void throwAborted();

// A connected, blocking TCP socket to host:port. ipv6 says the host is an IPv6 literal.
// When the idle pump will run on this thread the wait runs it every 125 ms and gives up
// after 120 s; otherwise the wait lasts as long as the system's own connect. Either wait
// ends early when `aborted` becomes true, and fails with "Read timed out." when the
// request's deadline passes first.
int connectSocket(const std::string& host, const std::string& port, bool ipv6, const std::atomic<bool>& aborted,
                  const RequestDeadline& deadline = RequestDeadline());

} // namespace vornel::http
