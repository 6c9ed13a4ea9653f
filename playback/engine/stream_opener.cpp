#include "playback/engine/stream_opener.h"

#include "playback/engine/playlist.h"
#include "text/ascii.h"

#include <algorithm>

namespace vornel::audio {
namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(30);
constexpr int kPlaylistDepth = 3;
// URLs that one open follows through playlists in total, whatever their nesting: a
// playlist that lists itself, or playlists that list each other, end here.
constexpr int kPlaylistUrlsFollowed = 16;
constexpr size_t kPlaylistMaxBytes = 64 * 1024;
constexpr size_t kSniffBytes = 16;

bool isHttpUrl(const std::string& url)
{
    const std::string scheme = text::lowerAscii(url.substr(0, url.find("://")));
    return url.find("://") != std::string::npos && (scheme == "http" || scheme == "https");
}

class Opener {
public:
    Opener(const OpenRequest& request, OpenCancel& cancel)
        : request_(request), cancel_(cancel), deadline_(Connection::Clock::now() + kOpenTimeout)
    {}

    OpenOutcome open(const std::string& url, int depth);

private:
    OpenOutcome attempt(const std::string& url, int depth, std::unique_ptr<Connection>& connection);
    OpenOutcome fail(int error) { return {nullptr, cancel_.cancelled() ? BASS_ERROR_INIT : error}; }
    void reportHead(const ReplyHead& head);
    OpenOutcome followPlaylist(Connection& playlist, int depth);
    OpenOutcome waitForAudio(std::unique_ptr<Connection>& connection);

    const OpenRequest& request_;
    OpenCancel& cancel_;
    const Connection::Clock::time_point deadline_;
    int urlsFollowed_ = 0;
};

OpenOutcome Opener::open(const std::string& url, int depth)
{
    std::unique_ptr<Connection> connection;
    auto outcome = attempt(url, depth, connection);
    if (!outcome.connection)
        cancel_.attach(nullptr); // before the failed connection goes away
    return outcome;
}

OpenOutcome Opener::attempt(const std::string& url, int depth, std::unique_ptr<Connection>& connection)
{
    if (url.empty())
        return fail(BASS_ERROR_ILLPARAM);
    if (!isHttpUrl(url))
        return fail(BASS_ERROR_FILEOPEN);
    connection = std::make_unique<Connection>(url, (request_.flags & BASS_STREAM_BLOCK) != 0);
    cancel_.attach(connection.get());
    connection->start();
    Connection& c = *connection;
    c.waitUntil([&] { return c.hasHeadLocked(); }, deadline_);
    const auto head = c.head();
    if (!head)
        return fail(c.over() ? BASS_ERROR_FILEOPEN : BASS_ERROR_TIMEOUT);
    reportHead(*head);
    if (head->code >= 300)
        return fail(BASS_ERROR_FILEOPEN);
    c.waitUntil([&] { return c.receivedLocked() >= static_cast<int64_t>(kSniffBytes); }, deadline_);
    if (looksLikePlaylist(head->contentType, url, c.peek(0, kSniffBytes))) {
        if (!request_.followPlaylists || depth >= kPlaylistDepth)
            return fail(BASS_ERROR_FILEFORM);
        return followPlaylist(c, depth);
    }
    return waitForAudio(connection);
}

void Opener::reportHead(const ReplyHead& head)
{
    if (!(request_.flags & BASS_STREAM_STATUS) || !request_.proc || cancel_.cancelled())
        return;
    const std::string text = headLines(head);
    request_.proc(text.data(), 0, request_.user);
}

OpenOutcome Opener::followPlaylist(Connection& playlist, int depth)
{
    playlist.waitUntil([&] { return playlist.receivedLocked() > static_cast<int64_t>(kPlaylistMaxBytes); }, deadline_);
    if (!playlist.over() || playlist.downloaded() > static_cast<int64_t>(kPlaylistMaxBytes))
        return fail(playlist.over() ? BASS_ERROR_FILEFORM : BASS_ERROR_TIMEOUT);
    const auto entries = playlistEntries(playlist.peek(0, kPlaylistMaxBytes), playlist.url());
    OpenOutcome last{nullptr, BASS_ERROR_FILEFORM};
    for (size_t i = 0; i < entries.size() && urlsFollowed_ < kPlaylistUrlsFollowed && !cancel_.cancelled(); ++i) {
        ++urlsFollowed_;
        last = open(entries[i], depth + 1);
        if (last.connection)
            return last;
    }
    return fail(last.error);
}

OpenOutcome Opener::waitForAudio(std::unique_ptr<Connection>& connection)
{
    Connection& c = *connection;
    c.waitUntil([&] { return c.scanLocked().locked || c.scanLocked().gaveUp; }, deadline_);
    if (c.firstFrame())
        return {std::move(connection), BASS_OK};
    if (cancel_.cancelled())
        return fail(BASS_ERROR_INIT);
    if (!c.over() && Connection::Clock::now() >= deadline_)
        return fail(BASS_ERROR_TIMEOUT);
    return fail(BASS_ERROR_FORMAT);
}

} // namespace

void OpenCancel::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (current_)
        current_->abort();
}

bool OpenCancel::cancelled() const
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void OpenCancel::attach(Connection* connection)
{
    std::lock_guard lock(mutex_);
    current_ = connection;
    if (cancelled_ && current_)
        current_->abort();
}

OpenOutcome openUrl(const OpenRequest& request, OpenCancel& cancel)
{
    Opener opener(request, cancel);
    return opener.open(request.url, 0);
}

std::string headLines(const ReplyHead& head)
{
    std::string text = head.statusLine;
    text.push_back('\0');
    for (const auto& line : head.lines) {
        text += line;
        text.push_back('\0');
    }
    text.push_back('\0');
    return text;
}

} // namespace vornel::audio
