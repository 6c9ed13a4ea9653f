// vornel-demo: the demo catalogue and file host that VornelPlayer is set up to read.
#include "demo/catalogue_site.h"
#include "demo/demo_options.h"
#include "demo/file_host.h"
#include "demo/http_server.h"
#include "demo/request_log.h"
#include "demo/track_files.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <unistd.h>

using namespace vornel::demo;

namespace {

// Exit statuses a caller can tell apart: 2 bad options, 3 a port could not be bound,
// 4 the tracks could not be made or the log not opened.
constexpr int kBadOptions = 2;
constexpr int kPortBusy = 3;
constexpr int kSetupFailed = 4;

std::string baseUrl(const HttpServer& server)
{
    return "http://" + server.name();
}

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "vornel-demo: %s\n", message.c_str());
    return status;
}

// Blocks the stop signals in every thread so that the main thread can wait for them.
sigset_t blockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

} // namespace

int main(int argc, char** argv)
{
    DemoOptions options;
    if (const std::string error = parseDemoOptions(argc, argv, options); !error.empty()) {
        std::fprintf(stderr, "vornel-demo: %s\n%s", error.c_str(), demoUsage());
        return kBadOptions;
    }
    if (options.help) {
        std::fputs(demoUsage(), stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t stopSignals = blockStopSignals();

    RequestLog log;
    if (!options.logPath.empty())
        if (const std::string error = log.open(options.logPath); !error.empty())
            return fail(kSetupFailed, error);

    TrackFiles files;
    // Both servers exist before either is bound, since each page names the other's address.
    CatalogueSite* site = nullptr;
    FileHost* host = nullptr;
    HttpServer catalogueServer([&](const HttpRequest& r) { return site->handle(r); }, log);
    HttpServer fileServer([&](const HttpRequest& r) { return host->handle(r); }, log);
    if (const std::string error = catalogueServer.listen(options.catalogueAddress, options.cataloguePort);
        !error.empty())
        return fail(kPortBusy, error);
    if (const std::string error = fileServer.listen(options.fileAddress, options.filePort); !error.empty())
        return fail(kPortBusy, error);

    const std::string cacheDir = options.cacheDir.empty() ? defaultCacheDir() : options.cacheDir;
    if (const std::string error = files.prepare(cacheDir, options.trackSeconds); !error.empty())
        return fail(kSetupFailed, error);

    CatalogueSite catalogue(baseUrl(catalogueServer), baseUrl(fileServer));
    FileHost fileHost(baseUrl(fileServer), files);
    site = &catalogue;
    host = &fileHost;
    catalogueServer.start();
    fileServer.start();
    std::printf("vornel-demo: catalogue at %s/ , file host at %s/ , tracks of %d s in %s\n",
                baseUrl(catalogueServer).c_str(), baseUrl(fileServer).c_str(), options.trackSeconds, cacheDir.c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fflush(stdout);
    // Connection threads are detached and may be mid-reply: leave without running
    // destructors under them.
    _exit(0);
}
