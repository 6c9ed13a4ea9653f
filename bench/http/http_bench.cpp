// Throughput and peak memory of the HTTP client on large bodies, against libcurl into
// memory (in this process, same server, same run) and the curl tool into /dev/null.
//
//   bench_http [MiB]      (default 256)
//
// A loopback server thread generates the bodies from one 1 MiB block, so the process's
// peak resident size, taken before libcurl runs, is the client's own: body plus buffers.
#include "http/byte_stream.h"
#include "http/http_client.h"
#include "bench/http/body_server.h"
#include "tests/support/peak_memory.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using vornel::bench::BodyServer;
using vornel::bench::kBlock;

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Best of `rounds` runs of the client, in seconds.
double timeClient(const std::string& url, size_t expected, int rounds)
{
    double best = 1e9;
    vornel::http::ClientSettings settings;
    settings.maxBodyInMemory = static_cast<int64_t>(expected); // these bodies are meant to be held
    vornel::http::HttpClient client(settings);
    for (int i = 0; i < rounds; ++i) {
        vornel::http::MemoryStream body;
        const auto started = Clock::now();
        client.GetToStream(url, body);
        best = std::min(best, seconds(Clock::now() - started));
        if (body.bytes().size() != expected) {
            std::fprintf(stderr, "client got %zu bytes, expected %zu\n", body.bytes().size(), expected);
            std::exit(1);
        }
    }
    return best;
}

// Best of `rounds` runs of curl's own transfer time (its -w time_total), in seconds.
double timeCurl(const std::string& url, int rounds)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const std::string command = "curl -s -o /dev/null -w '%{time_total}' '" + url + "'";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        double total = -1;
        if (std::fscanf(pipe, "%lf", &total) != 1)
            total = -1;
        if (::pclose(pipe) != 0 || total <= 0)
            return -1;
        best = std::min(best, total);
    }
    return best;
}

size_t appendToBuffer(char* data, size_t size, size_t count, void* buffer)
{
    static_cast<std::string*>(buffer)->append(data, size * count);
    return size * count;
}

// Best of `rounds` GETs with libcurl into a buffer that its write callback grows, on one
// easy handle (its connection kept, as the client keeps its own), in seconds.
double timeLibcurl(const std::string& url, size_t expected, int rounds)
{
    CURL* curl = curl_easy_init();
    if (!curl)
        return -1;
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToBuffer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        std::string().swap(body);
        const auto started = Clock::now();
        const CURLcode result = curl_easy_perform(curl);
        best = std::min(best, seconds(Clock::now() - started));
        if (result != CURLE_OK || body.size() != expected) {
            best = -1;
            break;
        }
    }
    curl_easy_cleanup(curl);
    return best;
}

// Best time to write `bytes` into a fresh MemoryStream in 32 KiB pieces, without network:
// the floor that storing the body in memory sets.
double timeMemoryOnly(size_t bytes, int rounds)
{
    const std::vector<char> piece(32768, 'm');
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        vornel::http::MemoryStream body;
        const auto started = Clock::now();
        body.reserve(static_cast<int64_t>(bytes));
        for (size_t done = 0; done < bytes; done += piece.size())
            body.write(piece.data(), piece.size());
        best = std::min(best, seconds(Clock::now() - started));
    }
    return best;
}

double rate(size_t bytes, double secondsTaken)
{
    return static_cast<double>(bytes) / secondsTaken / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const size_t bytes = mebibytes * kBlock;
    constexpr int kRounds = 3;
    constexpr double kLibcurlGoal = 1.20;
    constexpr double kCurlToolGoal = 1.00;
    BodyServer server(mebibytes);
    const long baselineKiB = vornel::test::peakKilobytes();

    std::printf("http client: %zu MiB bodies from 127.0.0.1 into memory, best of %d\n", mebibytes, kRounds);
    const char* const paths[] = {"/length", "/chunked"};
    double ours[2];
    for (int i = 0; i < 2; ++i)
        ours[i] = timeClient(server.url(paths[i]), bytes, kRounds);
    const long peakKiB = vornel::test::peakKilobytes(); // before libcurl adds its own buffers
    bool met = true;
    for (int i = 0; i < 2; ++i) {
        std::printf("  %-8s client %8.1f MB/s (%.3f s)\n", paths[i] + 1, rate(bytes, ours[i]), ours[i]);
        const double libcurl = timeLibcurl(server.url(paths[i]), bytes, kRounds);
        if (libcurl > 0) {
            const double ratio = rate(bytes, ours[i]) / rate(bytes, libcurl);
            std::printf("           libcurl into memory %8.1f MB/s (%.3f s)   client/libcurl %.2f (goal >= %.2f)\n",
                        rate(bytes, libcurl), libcurl, ratio, kLibcurlGoal);
            met = met && ratio >= kLibcurlGoal;
        } else {
            std::printf("           libcurl into memory: not measured (built without libcurl, or it failed)\n");
        }
        const double curl = timeCurl(server.url(paths[i]), kRounds);
        if (curl > 0) {
            const double ratio = rate(bytes, ours[i]) / rate(bytes, curl);
            std::printf("           curl -o /dev/null     %8.1f MB/s (%.3f s)   client/curl %.2f (goal >= %.2f)\n",
                        rate(bytes, curl), curl, ratio, kCurlToolGoal);
            met = met && ratio >= kCurlToolGoal;
        } else {
            std::printf("           curl -o /dev/null: not measured\n");
        }
    }
    const double small = timeClient(server.url("/small"), BodyServer::kSmallBody, kRounds);
    const double multipart = timeClient(server.url("/multipart"), BodyServer::kSmallBody, kRounds);
    std::printf("  multipart, 4 MiB with a %zu-character boundary: %.3f s; the same size length-framed: %.3f s"
                "   ratio %.2f (goal <= 10.00)\n",
                BodyServer::kLongBoundary, multipart, small, multipart / small);
    met = met && multipart <= 10.0 * small;
    const double floor = timeMemoryOnly(bytes, kRounds);
    std::printf("  memory only (no network) %8.1f MB/s (%.3f s): storing the body costs this much\n",
                rate(bytes, floor), floor);
    const double ratio = static_cast<double>(peakKiB) * 1024.0 / static_cast<double>(bytes);
    std::printf("  peak resident size %.1f MiB (before the requests %.1f MiB): %.3f x body (goal <= 1.10)\n",
                peakKiB / 1024.0, baselineKiB / 1024.0, ratio);
    met = met && ratio <= 1.10;
    // The download to disk is measured by bench_http_download, in a process of its own so
    // that this run's peak does not hide it.
    std::printf("  goals %s\n", met ? "met" : "NOT met");
    return 0;
}
