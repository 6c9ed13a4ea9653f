#include "http/http_client.h"

#include "http/body_reader.h"
#include "http/body_text.h"
#include "http/bounded_stream.h"
#include "http/cookie_store.h"
#include "http/header_fields.h"
#include "http/html_meta_scan.h"
#include "http/input_buffer.h"
#include "http/received_text.h"
#include "http/reply_head.h"
#include "http/request_deadline.h"
#include "http/request_head.h"
#include "http/socket_connect.h"
#include "http/transport.h"
#include "http/uri.h"
#include "http/xml_encoding.h"

#include <cerrno>
#include <mutex>
#include <optional>

namespace vornel::http {

ClientSettings ClientSettings::configured()
{
    ClientSettings settings;
    settings.handleRedirects = true;
    settings.noProtocolErrorException = true;
    settings.transportAtCreation = true;
    return settings;
}

ClientSettings ClientSettings::runtime()
{
    return ClientSettings();
}

namespace {

constexpr int kRedirectBodyWaitMs = 5000;

// The parts of a request after merging its URL into the client's URL state.
struct RequestTarget {
    std::string protocol;
    std::string host;
    std::string port;
    std::string path;
    std::string target; // path, document and query
    bool ipv6 = false;

    bool tls() const { return equalsIgnoreCase(protocol, "https"); }
    CookieRequest cookieRequest() const { return {protocol, host, path.empty() ? "/" : path}; }
};

enum class Framing { None, Length, Chunked, Multipart, UntilClose };

Framing framingOf(const Response& response, std::string& boundary)
{
    if (lowerAscii(response.TransferEncoding).find("chunked") != std::string::npos)
        return Framing::Chunked;
    if (response.hasContentLength())
        return response.ContentLength > 0 ? Framing::Length : Framing::None;
    if (bareMediaType(response.ContentType).rfind("multipart", 0) == 0) {
        const std::string type = response.header("Content-Type");
        const std::string lower = lowerAscii(type);
        const size_t at = lower.find("boundary=");
        if (at != std::string::npos) {
            boundary = trim(type.substr(at + 9));
            boundary = boundary.substr(0, boundary.find(';'));
            if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
                boundary = boundary.substr(1, boundary.size() - 2);
            if (!boundary.empty())
                return Framing::Multipart;
        }
    }
    return Framing::UntilClose;
}

class BusyGuard {
public:
    explicit BusyGuard(bool& busy) : busy_(busy)
    {
        if (busy_)
            throw HttpError("EIdClientBusy", "The client is busy with another request.");
        busy_ = true;
    }
    ~BusyGuard() { busy_ = false; }

private:
    bool& busy_;
};

} // namespace

struct HttpClient::Impl {
    HttpClient& owner;
    ClientSettings settings;
    std::shared_ptr<Transport> transport;
    std::mutex transportMutex; // abort() reads `transport` from other threads
    std::unique_ptr<InputBuffer> input;
    std::atomic<bool> aborted{false};
    bool busy = false;

    Response response;
    RequestTarget urlState;
    std::unique_ptr<CookieStore> cookies;
    bool previousAllowsKeepAlive = false;
    bool bodyLeftUnread = false;
    RequestDeadline deadline; // of the running request
    WorkEvents events;

    Impl(HttpClient& client, ClientSettings clientSettings, std::shared_ptr<Transport> given)
        : owner(client), settings(std::move(clientSettings)), transport(std::move(given))
    {
        if (!transport && settings.transportAtCreation)
            transport = std::make_shared<Transport>(true);
        if (transport)
            input = std::make_unique<InputBuffer>(*transport, aborted, settings.readTimeoutMs);
        events.begin = [this](int64_t size) {
            if (owner.OnWorkBegin)
                owner.OnWorkBegin(WorkMode::Read, size);
        };
        events.work = [this](int64_t count) {
            if (owner.OnWork)
                owner.OnWork(WorkMode::Read, count);
        };
        events.end = [this] {
            if (owner.OnWorkEnd)
                owner.OnWorkEnd(WorkMode::Read);
        };
    }

    ~Impl()
    {
        if (transport)
            transport->close();
    }

    void get(const std::string& url, ByteStream& destination);
    RequestTarget prepare(const std::string& url);
    bool ensureConnection(const RequestTarget& request);
    void exchangeHeads(const RequestTarget& request, bool reused);
    void useTransport(std::shared_ptr<Transport> made);
    void sendHead(const RequestTarget& request);
    void readHeads(const RequestTarget& request);
    bool handleReply(ByteStream& destination, int& redirects);
    void readBody(ByteStream* destination, bool keepText);
    void readFramedBody(ByteStream* destination);
    void applyBodyCharset(std::string_view body);
    void dropErrorBodyOrFail();
    bool replyAllowsKeepAlive() const;
    void closeConnection();
};

RequestTarget HttpClient::Impl::prepare(const std::string& url)
{
    const UriParts parts = splitUri(url);
    RequestTarget request;
    request.path = resolvePath(urlState.path, parts.path);
    request.target = request.path + parts.document + (parts.params.empty() ? "" : "?" + parts.params);
    request.host = parts.host.empty() ? urlState.host : parts.host;
    request.ipv6 = parts.host.empty() ? urlState.ipv6 : parts.ipv6;
    if (!parts.protocol.empty())
        request.protocol = parts.protocol;
    else
        request.protocol = equalsIgnoreCase(urlState.protocol, "https") ? "https" : "http";
    if (!parts.port.empty())
        request.port = parts.port;
    else if (equalsIgnoreCase(parts.protocol, "http"))
        request.port = "80";
    else if (equalsIgnoreCase(parts.protocol, "https"))
        request.port = "443";
    else
        request.port = urlState.port;
    if (request.port.empty())
        throw HttpError("EIdUnknownProtocol", "Unknown Protocol");
    urlState = request;
    return request;
}

void HttpClient::Impl::useTransport(std::shared_ptr<Transport> made)
{
    std::lock_guard lock(transportMutex);
    transport = std::move(made);
    input = std::make_unique<InputBuffer>(*transport, aborted, settings.readTimeoutMs);
    input->setDeadline(deadline);
}

void HttpClient::Impl::closeConnection()
{
    if (transport)
        transport->close();
    if (input)
        input->clear();
    previousAllowsKeepAlive = false;
}

// True when the connection kept from the previous request is used again.
bool HttpClient::Impl::ensureConnection(const RequestTarget& request)
{
    const bool tls = request.tls();
    if (transport && transport->isOpen()) {
        const bool sameEndpoint = transport->isTls() == tls && equalsIgnoreCase(transport->host(), request.host) &&
                                  transport->port() == request.port;
        // Unread bytes or a close by the peer since the last reply leave it unusable.
        const bool usable =
            previousAllowsKeepAlive && input->size() == 0 && !input->closed() && transport->idleAndUsable();
        if (sameEndpoint && usable)
            return true;
        closeConnection();
    }
    if (!transport)
        useTransport(std::make_shared<Transport>(tls));
    if (tls && !transport->canDoTls())
        throw HttpError("EIdIOHandlerPropInvalid", "IOHandler value is not valid");
    input->clear();
    transport->connect(request.host, request.port, request.ipv6, tls, aborted, deadline);
    if (aborted) {
        closeConnection();
        throwAborted();
    }
    return false;
}

namespace {
// Nothing of a reply came back: the peer closed or reset the connection first.
bool closedBeforeAnyReply(const HttpError& failure, const Response& response)
{
    if (!response.ResponseText.empty())
        return false;
    if (const auto* socket = dynamic_cast<const SocketError*>(&failure))
        return socket->errorNumber() == socketErrorFromErrno(ECONNRESET) ||
               socket->errorNumber() == socketErrorFromErrno(EPIPE);
    return failure.kind() == "EIdConnClosedGracefully";
}
} // namespace

// A kept connection may have been closed by the server just before the request went out
// (a server that closes after each reply, or its idle time-out ran out): then no reply
// comes. The request never reached the server, so it goes once more on a new connection.
void HttpClient::Impl::exchangeHeads(const RequestTarget& request, bool reused)
{
    try {
        sendHead(request);
        readHeads(request);
    } catch (const HttpError& failure) {
        if (!reused || aborted || !closedBeforeAnyReply(failure, response))
            throw;
        closeConnection();
        ensureConnection(request);
        sendHead(request);
        readHeads(request);
    }
}

void HttpClient::Impl::sendHead(const RequestTarget& request)
{
    std::optional<std::string> cookie;
    if (settings.allowCookies && cookies)
        cookie = cookies->cookieHeader(request.cookieRequest());
    transport->write(requestHead(request.target,
                                 hostHeaderValue(request.protocol, request.host, request.port, request.ipv6), settings,
                                 owner.extraHeaders, cookie));
}

void HttpClient::Impl::readHeads(const RequestTarget& request)
{
    size_t headBytes = 0; // interim 100 replies count towards the bound as well
    do {
        readReplyHead(*input, settings.maxHeaderLines, response, &headBytes);
        if (settings.allowCookies) {
            if (!cookies)
                cookies = std::make_unique<CookieStore>();
            cookies->takeReplyCookies(response.RawHeaders, request.cookieRequest());
        }
    } while (response.ResponseCode == 100);
    if (owner.OnHeaders)
        owner.OnHeaders(response);
}

bool HttpClient::Impl::replyAllowsKeepAlive() const
{
    return transport && transport->isOpen() && !input->closed() && !bodyLeftUnread &&
           !equalsIgnoreCase(trim(response.Connection), "close") &&
           !equalsIgnoreCase(trim(response.ProxyConnection), "close");
}

void HttpClient::Impl::readFramedBody(ByteStream* destination)
{
    std::string boundary;
    const Framing framing = framingOf(response, boundary);
    const int code = response.ResponseCode;
    if (framing == Framing::None || (code >= 100 && code < 200) || code == 204 || code == 304)
        return;
    // A redirect's body counts only when some of it turns up soon.
    if (code >= 300 && code < 400 && input->size() == 0 && !input->receiveWithin(kRedirectBodyWaitMs)) {
        // A body may still come later; it must not be taken for the next reply.
        bodyLeftUnread = true;
        return;
    }
    // A body held in memory is bounded; other destinations bound themselves.
    std::optional<BoundedStream> bounded;
    if (dynamic_cast<MemoryStream*>(destination))
        destination = &bounded.emplace(*destination, settings.maxBodyInMemory);
    BodyReader reader(*input, events, destination);
    switch (framing) {
    case Framing::Length: reader.readLength(response.ContentLength); break;
    case Framing::Chunked: reader.readChunked(response.RawHeaders); break;
    case Framing::Multipart: reader.readMultipart(boundary); break;
    case Framing::UntilClose: reader.readUntilClose(); break;
    case Framing::None: break;
    }
}

// Reads the body into destination (nullptr drops it). A kept body of an HTML or XML type
// also decides the reply's character set; it is collected in memory for that.
void HttpClient::Impl::readBody(ByteStream* destination, bool keepText)
{
    const bool scanned = !settings.bodyAsReceived && keepText && destination &&
                         (isHtmlMediaType(response.ContentType) || isXmlMediaType(response.ContentType));
    if (!scanned) {
        readFramedBody(destination);
        return;
    }
    auto* memory = dynamic_cast<MemoryStream*>(destination);
    const int64_t start = destination->position();
    if (memory) {
        readFramedBody(memory);
        applyBodyCharset(std::string_view(memory->bytes()).substr(static_cast<size_t>(start)));
        return;
    }
    MemoryStream collected;
    readFramedBody(&collected);
    applyBodyCharset(collected.bytes());
    destination->write(collected.bytes().data(), collected.bytes().size());
}

void HttpClient::Impl::applyBodyCharset(std::string_view body)
{
    if (isHtmlMediaType(response.ContentType)) {
        const MetaScanResult scan = scanHtmlMeta(body);
        std::string charSet = scan.charSet;
        if (!scan.headerLines.empty()) {
            for (const auto& line : scan.headerLines)
                setHeaderLine(response.RawHeaders, line);
            evaluateHeaders(response);
            const auto type = findHeader(scan.headerLines, "Content-Type");
            if (charSet.empty())
                charSet = mediaTypeOf(type.value_or(""), type.has_value()).charSet;
        }
        if (!charSet.empty())
            response.CharSet = charSet;
    }
    // Not an alternative: an XHTML page gets the meta scan and then the XML detection.
    if (isXmlMediaType(response.ContentType))
        response.CharSet = detectXmlEncoding(body);
}

void HttpClient::Impl::dropErrorBodyOrFail()
{
    if (settings.noProtocolErrorException) {
        readBody(nullptr, false);
        return;
    }
    MemoryStream body;
    readBody(&body, true);
    previousAllowsKeepAlive = replyAllowsKeepAlive();
    throw ProtocolError(response.ResponseText, response.ResponseCode, decodeBodyText(body.bytes(), response.CharSet));
}

// True when the request goes on to the reply's Location.
bool HttpClient::Impl::handleReply(ByteStream& destination, int& redirects)
{
    const int code = response.ResponseCode;
    if (code >= 300 && code <= 399 && code != 304 && !response.Location.empty()) {
        ++redirects;
        if (settings.handleRedirects) {
            readBody(nullptr, false);
            return redirects < settings.redirectMaximum;
        }
    }
    if (code >= 200 && code <= 299) {
        if (code == 204)
            return false;
        const int64_t start = destination.position();
        readBody(&destination, true);
        destination.truncate(std::max(destination.position(), start));
        return false;
    }
    dropErrorBodyOrFail();
    return false;
}

void HttpClient::Impl::get(const std::string& url, ByteStream& destination)
{
    BusyGuard guard(busy);
    if (aborted)
        throwAborted();
    deadline = RequestDeadline::after(settings.requestDeadlineMs);
    if (input)
        input->setDeadline(deadline);
    const int64_t start = destination.position();
    int redirects = 0;
    std::string next = url;
    try {
        for (;;) {
            const RequestTarget request = prepare(next);
            bodyLeftUnread = false;
            exchangeHeads(request, ensureConnection(request));
            const bool follow = handleReply(destination, redirects);
            previousAllowsKeepAlive = replyAllowsKeepAlive();
            if (!follow)
                break;
            next = response.Location;
            destination.truncate(start);
        }
    } catch (const ProtocolError&) {
        if (!previousAllowsKeepAlive)
            closeConnection();
        throw;
    } catch (...) {
        // A reply broken off half-way leaves nothing the next request could use.
        closeConnection();
        if (aborted)
            throwAborted();
        throw;
    }
    if (!previousAllowsKeepAlive)
        closeConnection();
}

HttpClient::HttpClient(ClientSettings settings, std::shared_ptr<Transport> transport)
    : impl_(std::make_unique<Impl>(*this, std::move(settings), std::move(transport)))
{}

HttpClient::~HttpClient() = default;

void HttpClient::GetToStream(const std::string& url, ByteStream& destination)
{
    impl_->get(url, destination);
}

std::string HttpClient::GetAsText(const std::string& url)
{
    MemoryStream body;
    GetToStream(url, body);
    return decodeBodyText(body.bytes(), impl_->response.CharSet);
}

const Response& HttpClient::response() const
{
    return impl_->response;
}

const ClientSettings& HttpClient::settings() const
{
    return impl_->settings;
}

void HttpClient::abort()
{
    impl_->aborted = true;
    std::lock_guard lock(impl_->transportMutex);
    if (impl_->transport)
        impl_->transport->abort();
}

void HttpClient::clearAbort()
{
    impl_->aborted = false;
}

} // namespace vornel::http
