// Times GetLinks on a large catalogue page against a bare gumbo parse of the same bytes.
// Each measurement runs in a child process of its own, so its peak memory is its own.
#include "catalogue/link_extraction.h"
#include "http/http_client.h"
#include "tests/support/scripted_server.h"

#include <gumbo.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kAnchors = 20000;
constexpr int kRuns = 5;
constexpr size_t kPageBytes = 5'000'000;

std::string anchorBlock(int i, const std::string& filler)
{
    const std::string n = std::to_string(i);
    const std::string href = (i % 2) ? "http://127.0.0.2:8691/file/" + n : "/post/" + n + "/";
    return "<div class=post><h2><a href=\"" + href + "\">Artist " + n + " &ndash; <b>Title of song " + n +
           "</b></a></h2><p>" + filler + "</p></div>\n";
}

// About 5 MB: the text under each anchor is cut to the length that gets there.
std::string cataloguePage()
{
    const std::string head = "<!DOCTYPE html><html><head><meta charset=utf-8><title>Catalogue</title>"
                             "<style>.post{margin:1em}</style></head><body><div id=posts>\n";
    const std::string tail = "</div></body></html>\n";
    std::string longText;
    while (longText.size() < 4000)
        longText += "Recorded live in the small hall, remastered from the original tapes; notes "
                    "on the line-up, the tour and the pressing follow below the player. ";
    size_t bare = head.size() + tail.size();
    for (int i = 0; i < kAnchors; ++i)
        bare += anchorBlock(i, "").size();
    const size_t fillerLength = bare < kPageBytes ? (kPageBytes - bare) / kAnchors : 0;
    const std::string filler = longText.substr(0, fillerLength);
    std::string page = head;
    for (int i = 0; i < kAnchors; ++i)
        page += anchorBlock(i, filler);
    return page + tail;
}

long rssKb()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Figures {
    double medianMs = 0, bestMs = 0;
    long peakKb = 0, startKb = 0;
    bool ok = false;
};

// Runs work kRuns times in a child; the child reports its times and starting RSS.
Figures measure(const std::function<void()>& work)
{
    int ends[2];
    Figures figures;
    if (pipe(ends) != 0)
        return figures;
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        double times[kRuns + 1];
        times[kRuns] = static_cast<double>(rssKb());
        for (double& ms : times) {
            if (&ms == &times[kRuns])
                break;
            const auto start = std::chrono::steady_clock::now();
            work();
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        _exit(write(ends[1], times, sizeof times) == sizeof times ? 0 : 1);
    }
    close(ends[1]);
    double times[kRuns + 1] = {};
    const bool got = read(ends[0], times, sizeof times) == sizeof times;
    close(ends[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    figures.ok = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.startKb = static_cast<long>(times[kRuns]);
    std::sort(times, times + kRuns);
    figures.medianMs = times[kRuns / 2];
    figures.bestMs = times[0];
    figures.peakKb = usage.ru_maxrss;
    return figures;
}

void print(const char* name, const Figures& f)
{
    std::printf("%-29s median %8.1f ms  best %8.1f ms  peak RSS %7.1f MiB (+%.1f MiB over start)%s\n", name, f.medianMs,
                f.bestMs, f.peakKb / 1024.0, (f.peakKb - f.startKb) / 1024.0, f.ok ? "" : "  [FAILED]");
}

} // namespace

int main()
{
    const std::string page = cataloguePage();
    vornel::test::ScriptedServer server;
    vornel::test::Route route;
    route.body = page;
    route.contentType = "text/html; charset=utf-8";
    server.addRoute("/", route);
    const std::string url = server.url("/");
    std::printf("catalogue page: %.2f MB, %d anchors, on %s; %d runs each, median\n", page.size() / 1e6, kAnchors,
                url.c_str(), kRuns);

    // The same parse as GetLinks makes (parse errors not collected), and gumbo's defaults.
    GumboOptions quiet = kGumboDefaultOptions;
    quiet.max_errors = 0;
    const auto bareParse = [&](const GumboOptions& options) {
        return measure([&] {
            GumboOutput* output = gumbo_parse_with_options(&options, page.data(), page.size());
            gumbo_destroy_output(&options, output);
        });
    };
    const Figures bare = bareParse(quiet);
    const Figures bareDefaults = bareParse(kGumboDefaultOptions);
    const Figures fetch = measure([&] {
        vornel::http::HttpClient client(vornel::http::ClientSettings::runtime());
        if (client.GetAsText(url).size() != page.size())
            _exit(3);
    });
    const Figures links = measure([&] {
        size_t count = 0;
        vornel::catalogue::GetLinks(url, [&](const std::string&, const std::string&) { ++count; });
        if (count != kAnchors)
            _exit(3);
    });
    print("bare gumbo parse", bare);
    print("bare gumbo parse, defaults", bareDefaults);
    print("fetch only (GetAsText)", fetch);
    print("GetLinks (fetch+parse+walk)", links);

    const double timeRatio = links.medianMs / bare.medianMs;
    const double memoryRatio =
        static_cast<double>(links.peakKb - links.startKb) / static_cast<double>(bare.peakKb - bare.startKb);
    std::printf("GetLinks / bare parse, time:   %.2fx (goal: at most 1.30x) %s\n", timeRatio,
                timeRatio <= 1.3 ? "met" : "NOT MET");
    std::printf("GetLinks / bare parse, memory: %.2fx (goal: at most 1.30x) %s\n", memoryRatio,
                memoryRatio <= 1.3 ? "met" : "NOT MET");
    return bare.ok && bareDefaults.ok && fetch.ok && links.ok ? 0 : 1;
}
