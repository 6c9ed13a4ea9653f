#pragma once
// GetLinks on a thread of its own: the page is fetched, decoded and parsed there, so that a
// big page leaves the caller's thread free. The caller waits in steps and runs its own
// events between them; abort() breaks off the request at once. A parse already under way
// cannot be broken off: it ends on its thread, which owns everything it uses, so the job
// may be dropped at any moment without waiting for it.
#include "catalogue/link_extraction.h"
#include "http/http_client.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vornel::catalogue {

class LinkExtractionJob {
public:
    // Starts the job; std::system_error when no thread can be started.
    explicit LinkExtractionJob(std::string url, http::ClientSettings settings = linkPageClientSettings());
    ~LinkExtractionJob();
    LinkExtractionJob(const LinkExtractionJob&) = delete;
    LinkExtractionJob& operator=(const LinkExtractionJob&) = delete;

    // Waits at most limit; true once the job has ended.
    bool waitFor(std::chrono::milliseconds limit);
    // After the end: the page's links in document order, or the job's failure thrown.
    std::vector<PageLink> take();
    // Thread-safe: the request fails with kind "EIdRequestAborted" (at once if it has not
    // started); the links of a page already read are not wanted any more.
    void abort();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace vornel::catalogue
