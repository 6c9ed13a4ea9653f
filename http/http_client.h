#pragma once
// The blocking HTTP/1.1 GET client that every page and file request of the player uses.
#include "http/byte_stream.h"
#include "http/http_error.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vornel::http {

class Transport;
class CookieStore;

// The whole-request bound of catalogue and track pages.
constexpr int kPageRequestDeadlineMs = 120000;

struct ClientSettings {
    bool handleRedirects = false;
    int redirectMaximum = 15;
    bool allowCookies = true;
    bool noProtocolErrorException = false; // error statuses are not failures
    int maxHeaderLines = 255;
    std::string accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    std::string userAgent = "Mozilla/3.0 (compatible; VornelPlayer)";
    // Without a transport given, true makes one at creation that carries http and https
    // (the window's clients); false makes one at the first connection, TLS-capable only
    // when that connection is https.
    bool transportAtCreation = false;
    // A request that receives no byte for this long fails: kind "EIdReadTimeout",
    // "Read timed out.".
    int readTimeoutMs = 60000;
    // Above 0: a request (redirects included) that has not ended this long after it began
    // fails with kind "EIdReadTimeout", "Read timed out.", however its bytes trickle in.
    // Pages get kPageRequestDeadlineMs; audio and saved tracks may take as long as they last.
    int requestDeadlineMs = 0;
    // A body held in memory (a MemoryStream destination, or one collected for its
    // character set) that passes this many bytes fails: kind "EIdBodyTooLarge", "Reply
    // body too large.". Fixed bounds besides: a reply's head (and a chunked body's
    // trailer) over 1 MiB fails with "EIdHeaderBlockTooLarge", a chunk size beyond a
    // signed 64-bit count with "EIdChunkSizeTooLarge".
    int64_t maxBodyInMemory = 32 * 1024 * 1024;
    // The body goes to the destination as it arrives, whatever its type: no character-set
    // work, so nothing is collected in memory first (audio and saved files).
    bool bodyAsReceived = false;

    static ClientSettings configured(); // the page and download clients of the window
    static ClientSettings runtime();    // a client made at run time (link extraction)
};

struct Response {
    std::string ResponseText;
    int ResponseCode = -1;
    bool version11 = false;
    std::vector<std::string> RawHeaders;
    int64_t ContentLength = -1;
    std::string TransferEncoding;
    std::string ContentType;
    std::string CharSet;
    std::string Location;
    std::string Connection;
    std::string ProxyConnection;

    bool hasContentLength() const { return ContentLength >= 0; }
    // First header of that name (case-insensitive), continuation lines joined; "" if absent.
    std::string header(const std::string& name) const;
};

enum class WorkMode { Read, Write };

class HttpClient {
public:
    explicit HttpClient(ClientSettings settings = ClientSettings::runtime(),
                        std::shared_ptr<Transport> transport = nullptr);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // A request started while another one of this client is still running (from a handler
    // that the idle pump ran) fails with kind "EIdClientBusy" and leaves the first alone.
    void GetToStream(const std::string& url, ByteStream& destination);
    // The body decoded by the reply's character set, as UTF-8.
    std::string GetAsText(const std::string& url);

    const Response& response() const;
    const ClientSettings& settings() const;

    std::function<void(WorkMode, int64_t size)> OnWorkBegin;
    std::function<void(WorkMode, int64_t count)> OnWork;
    std::function<void(WorkMode)> OnWorkEnd;

    // For streaming callers (the audio engine): extra request header lines sent after
    // User-Agent, and a hook called with each final reply's header block before its body.
    std::vector<std::string> extraHeaders;
    std::function<void(const Response&)> OnHeaders;

    // Thread-safe: breaks off a request running on another thread, which then fails with
    // kind "EIdRequestAborted"; later requests fail the same way until clearAbort().
    void abort();
    void clearAbort();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vornel::http
