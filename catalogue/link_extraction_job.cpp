#include "catalogue/link_extraction_job.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace vornel::catalogue {

struct LinkExtractionJob::State {
    State(std::string pageUrl, http::ClientSettings settings) : url(std::move(pageUrl)), client(std::move(settings)) {}

    void run()
    {
        std::vector<PageLink> found;
        std::exception_ptr failed;
        try {
            const std::string page = client.GetAsText(url);
            if (!unwanted)
                found = linksOfPage(url, page);
        } catch (...) {
            failed = std::current_exception();
        }
        std::lock_guard lock(mutex);
        links = std::move(found);
        failure = failed;
        ended = true;
        endedSignal.notify_all();
    }

    const std::string url;
    http::HttpClient client; // used by the job's thread only; abort() is thread-safe
    std::atomic<bool> unwanted{false};
    std::mutex mutex;
    std::condition_variable endedSignal;
    bool ended = false;
    std::vector<PageLink> links;
    std::exception_ptr failure;
};

LinkExtractionJob::LinkExtractionJob(std::string url, http::ClientSettings settings)
    : state_(std::make_shared<State>(std::move(url), std::move(settings)))
{
    std::thread([state = state_] { state->run(); }).detach();
}

LinkExtractionJob::~LinkExtractionJob()
{
    abort();
}

bool LinkExtractionJob::waitFor(std::chrono::milliseconds limit)
{
    std::unique_lock lock(state_->mutex);
    return state_->endedSignal.wait_for(lock, limit, [this] { return state_->ended; });
}

std::vector<PageLink> LinkExtractionJob::take()
{
    std::unique_lock lock(state_->mutex);
    state_->endedSignal.wait(lock, [this] { return state_->ended; });
    if (state_->failure)
        std::rethrow_exception(state_->failure);
    return std::move(state_->links);
}

void LinkExtractionJob::abort()
{
    state_->unwanted = true;
    state_->client.abort();
}

} // namespace vornel::catalogue
