// Peak memory of a track download to disk, against the size of the body.
//
//   download_to_disk_bench [MiB] [folder]      (default 256, the system's temporary folder)
//
// A loopback server thread sends the body from one 1 MiB block, so the growth of the
// process's peak resident size is the download's own: buffers, not the body.
#include "bench/http/body_server.h"
#include "download/track_download.h"
#include "tests/support/peak_memory.h"

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
using vornel::bench::BodyServer;
using vornel::bench::kBlock;
using vornel::test::peakKilobytes;
using vornel::test::restartPeakMemory;
using vornel::test::statusKilobytes;

namespace {} // namespace

int main(int argc, char** argv)
{
    const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::filesystem::path folder =
        (argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path()) /
        ("vornel-download-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string target = (folder / "Track.mp3").string();

    BodyServer server(mebibytes);
    vornel::http::HttpClient client(vornel::http::ClientSettings::configured());
    restartPeakMemory();
    const long before = statusKilobytes("VmRSS");
    const auto started = std::chrono::steady_clock::now();
    const DownloadOutcome outcome = downloadTrackFile(client, server.url("/length"), target, [&] { return target; });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long peak = peakKilobytes();
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
