// Peak memory of a track download to disk, against the size of the body.
//
//   download_to_disk_bench [MiB] [folder]      (default 256, the system's temporary folder)
//
// A loopback server thread sends the body from one 1 MiB block, so the growth of the
// process's peak resident size is the download's own: buffers, not the body.
#include "download/track_download.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vornel::download;

namespace {

constexpr size_t kBlock = 1 << 20;

bool sendAll(int fd, const char* data, size_t size)
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

// Answers every request of one connection at a time with the length-framed body.
class TrackServer {
public:
    explicit TrackServer(size_t blocks) : blocks_(blocks), block_(kBlock)
    {
        for (size_t i = 0; i < kBlock; ++i)
            block_[i] = static_cast<char>(i * 7 % 251);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~TrackServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/track.mp3"; }

private:
    void run()
    {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        }
    }
    void serve(int fd)
    {
        std::string pending;
        char piece[4096];
        for (;;) {
            while (pending.find("\r\n\r\n") == std::string::npos) {
                const ssize_t got = ::recv(fd, piece, sizeof piece, 0);
                if (got <= 0)
                    return;
                pending.append(piece, static_cast<size_t>(got));
            }
            pending.erase(0, pending.find("\r\n\r\n") + 4);
            const std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(blocks_ * kBlock) +
                "\r\n\r\n";
            if (!sendAll(fd, head.data(), head.size()))
                return;
            for (size_t i = 0; i < blocks_; ++i)
                if (!sendAll(fd, block_.data(), block_.size()))
                    return;
        }
    }

    size_t blocks_;
    std::vector<char> block_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

long statusKilobytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::filesystem::path folder =
        (argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path()) /
        ("vornel-download-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string target = (folder / "Track.mp3").string();

    TrackServer server(mebibytes);
    vornel::http::HttpClient client(vornel::http::ClientSettings::configured());
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const long before = statusKilobytes("VmRSS");
    const auto started = std::chrono::steady_clock::now();
    const DownloadOutcome outcome = downloadTrackFile(client, server.url(), target, [&] { return target; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long peak = statusKilobytes("VmHWM");
    const auto saved = std::filesystem::file_size(target);
    std::filesystem::remove_all(folder);

    if (outcome != DownloadOutcome::Saved || saved != mebibytes * kBlock) {
        std::fprintf(stderr, "download failed: %ju bytes saved of %zu\n", static_cast<uintmax_t>(saved),
                     mebibytes * kBlock);
        return 1;
    }
    const double grownMiB = static_cast<double>(peak - before) / 1024.0;
    std::printf("download to disk: %zu MiB body (anchor), peak memory grew by %.1f MiB (%.2f%% of the body), "
                "%.2f s, %.0f MiB/s; goal: a few MiB whatever the size\n",
                mebibytes, grownMiB, 100.0 * grownMiB / static_cast<double>(mebibytes), seconds,
                static_cast<double>(mebibytes) / seconds);
    return grownMiB < 8.0 ? 0 : 1;
}
