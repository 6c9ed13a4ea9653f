#pragma once
// Delivers fixed bytes to the HTTP client's transport as a server would: over a loopback
// TCP connection whose far end sends them and then closes. The transport reads them
// through its ordinary socket path.
#include "http/transport.h"

#include <atomic>
#include <string>
#include <thread>

namespace vornel::fuzz {

class LoopbackReply {
public:
    explicit LoopbackReply(std::string bytes);
    ~LoopbackReply();
    LoopbackReply(const LoopbackReply&) = delete;
    LoopbackReply& operator=(const LoopbackReply&) = delete;

    http::Transport& transport() { return transport_; }
    const std::atomic<bool>& aborted() const { return aborted_; }

private:
    std::atomic<bool> aborted_{false};
    http::Transport transport_{false};
    std::thread sender_;
};

} // namespace vornel::fuzz
