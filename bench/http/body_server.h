#pragma once
// The loopback server of the HTTP benchmarks: GET /length, /chunked, /small and /multipart,
// keep-alive, one connection at a time, every large body sent from one 1 MiB block so that
// the server adds little to the process's peak memory.
#include "tests/support/loopback_listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace vornel::bench {

constexpr size_t kBlock = 1 << 20;

inline bool sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// Serves GET /length and GET /chunked, keep-alive, one connection at a time.
class BodyServer {
public:
    explicit BodyServer(size_t blocks) : blocks_(blocks), block_(kBlock)
    {
        for (size_t i = 0; i < kBlock; ++i)
            block_[i] = static_cast<char>('a' + i % 26);
        thread_ = std::thread([this] { run(); });
    }
    ~BodyServer()
    {
        stopping_ = true;
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }
    std::string url(const char* path) const { return "http://127.0.0.1:" + std::to_string(listener_.port()) + path; }

private:
    void run()
    {
        while (!stopping_) {
            const int fd = ::accept(listener_.fd(), nullptr, nullptr);
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        }
    }
    void serve(int fd)
    {
        std::string pending;
        char chunk[4096];
        for (;;) {
            size_t end;
            while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                if (got <= 0)
                    return;
                pending.append(chunk, static_cast<size_t>(got));
            }
            const bool chunked = pending.compare(0, 13, "GET /chunked ") == 0;
            const bool multipart = pending.compare(0, 15, "GET /multipart ") == 0;
            const bool small = pending.compare(0, 11, "GET /small ") == 0;
            pending.erase(0, end + 4);
            const bool sent = multipart ? sendMultipart(fd)
                              : small   ? sendSmall(fd)
                              : chunked ? sendChunked(fd)
                                        : sendLength(fd);
            if (!sent)
                return;
        }
    }
    bool sendLength(int fd)
    {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                 std::to_string(blocks_ * kBlock) + "\r\n\r\n";
        if (!sendAll(fd, head.data(), head.size()))
            return false;
        for (size_t i = 0; i < blocks_; ++i)
            if (!sendAll(fd, block_.data(), block_.size()))
                return false;
        return true;
    }
    bool sendChunked(int fd)
    {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Transfer-Encoding: chunked\r\n\r\n";
        if (!sendAll(fd, head.data(), head.size()))
            return false;
        // Chunks of 64 KiB, as a typical server writes them.
        constexpr size_t kChunk = 65536;
        char sizeLine[32];
        const int sizeLength = std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", kChunk);
        for (size_t i = 0; i < blocks_; ++i) {
            for (size_t offset = 0; offset < kBlock; offset += kChunk) {
                if (!sendAll(fd, sizeLine, static_cast<size_t>(sizeLength)) ||
                    !sendAll(fd, block_.data() + offset, kChunk) || !sendAll(fd, "\r\n", 2))
                    return false;
            }
        }
        return sendAll(fd, "0\r\n\r\n", 5);
    }

    // 4 MiB of near-misses of a 16 000-hyphen boundary, then the terminator, framed by the
    // boundary alone (no length, no chunking): a search that compares the terminator at
    // each position costs body length x boundary length here.
    bool sendMultipart(int fd)
    {
        if (multipartReply_.empty()) {
            const std::string boundary(kLongBoundary, '-');
            multipartReply_ = "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=" + boundary + "\r\n\r\n";
            const size_t head = multipartReply_.size();
            const std::string nearMiss = std::string(kLongBoundary + 3, '-') + "\r\n"; // one hyphen short
            const std::string terminator = "--" + boundary + "--\r\n";
            while (multipartReply_.size() - head + nearMiss.size() + terminator.size() <= kSmallBody)
                multipartReply_ += nearMiss;
            multipartReply_.append(kSmallBody - (multipartReply_.size() - head) - terminator.size(), 'x');
            multipartReply_ += terminator;
        }
        return sendAll(fd, multipartReply_.data(), multipartReply_.size());
    }
    // The anchor of the multipart row: the same size, length-framed.
    bool sendSmall(int fd)
    {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSmallBody) + "\r\n\r\n";
        const std::string body(kSmallBody, 's');
        return sendAll(fd, head.data(), head.size()) && sendAll(fd, body.data(), body.size());
    }

public:
    static constexpr size_t kSmallBody = 4 << 20;
    static constexpr size_t kLongBoundary = 16000;

private:
    size_t blocks_;
    std::vector<char> block_;
    std::string multipartReply_; // made at the first request, outside the timed rounds' cost
    vornel::test::LoopbackListener listener_{8};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace vornel::bench
