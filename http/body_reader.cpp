#include "http/body_reader.h"

#include "http/bounded_stream.h"
#include "http/header_fields.h"
#include "http/http_error.h"
#include "http/idle_pump.h"
#include "http/input_buffer.h"
#include "http/received_text.h"
#include "http/reply_head.h"
#include "http/stream_matcher.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace vornel::http {
namespace {

[[noreturn]] void throwClosedGracefully()
{
    throw HttpError(FailureKind::ConnClosedGracefully, "Connection Closed Gracefully.");
}

// "1a;ext=1" -> 26, "0000000000000003" -> 3; anything that is not hexadecimal counts as 0.
// A size that does not fit a signed 64-bit count fails.
uint64_t chunkSizeOf(const std::string& line)
{
    const std::string digits = trim(line.substr(0, line.find(';')));
    uint64_t size = 0;
    for (char c : digits) {
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            return 0;
        if (size > (static_cast<uint64_t>(INT64_MAX) >> 4))
            throw HttpError(FailureKind::ChunkSizeTooLarge, "Chunk size too large.");
        size = size * 16 + static_cast<uint64_t>(value);
    }
    return size;
}

bool endsBodyNormally(const SocketError& error)
{
    const int number = error.errorNumber();
    return number == 10053 || number == 10054 || number == 10058;
}

} // namespace

// The begin and end events of one transfer; the end fires however the read ends.
class BodyReader::Transfer {
public:
    Transfer(const WorkEvents& events, int64_t size) : events_(events)
    {
        if (events_.begin)
            events_.begin(size);
    }
    ~Transfer()
    {
        if (events_.end)
            events_.end();
    }

private:
    const WorkEvents& events_;
};

BodyReader::BodyReader(InputBuffer& input, const WorkEvents& events, ByteStream* destination)
    : input_(input), events_(events), destination_(destination)
{}

void BodyReader::countDropped(size_t count)
{
    dropped_ += static_cast<int64_t>(count);
    if (dropped_ > kMaxDroppedBytes)
        throwBodyTooLarge();
}

void BodyReader::take(size_t count)
{
    if (count == 0)
        return;
    if (destination_)
        destination_->write(input_.data(), count);
    else
        countDropped(count);
    input_.consume(count);
    count_ += static_cast<int64_t>(count);
    if (events_.work)
        events_.work(count_);
    if (destination_)
        IdlePump::runIfDue();
}

// Into a stream: what is already buffered in one piece, then pieces of kPiece once they
// have fully arrived. Dropped: whatever arrives, at most kPiece at a time.
void BodyReader::takeDataOf(uint64_t length, bool mustComplete)
{
    uint64_t remaining = length;
    if (destination_ && input_.size() > 0) {
        const size_t first = static_cast<size_t>(std::min<uint64_t>(input_.size(), remaining));
        take(first);
        remaining -= first;
    }
    while (remaining > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, remaining));
        if (destination_)
            input_.fillTo(piece);
        else if (input_.size() == 0)
            input_.receiveMore();
        const size_t available = std::min(input_.size(), piece);
        if (available == 0) {
            if (mustComplete)
                throwClosedGracefully();
            return;
        }
        take(available);
        remaining -= available;
        if (hintCoversUpTo_ > 0 && count_ >= hintCoversUpTo_)
            hintSize(remaining);
    }
}

// A line of a chunked body; its bytes count as transferred but never reach the stream.
void BodyReader::takeLine(std::string* line)
{
    size_t used = 0;
    const std::optional<std::string> read = input_.readLine(&used);
    if (!read)
        throwClosedGracefully();
    if (line)
        *line = *read;
    count_ += static_cast<int64_t>(used);
    if (events_.work)
        events_.work(count_);
}

void BodyReader::readLength(int64_t length)
{
    Transfer transfer(events_, length);
    hintSize(static_cast<uint64_t>(length));
    takeDataOf(static_cast<uint64_t>(length), false);
}

// Tells the destination how many bytes are announced. The first hint is bounded, since a
// hostile length may be far more than ever arrives; once the bytes it covered have really
// come, the rest is announced whole and the destination decides how much of it to trust.
void BodyReader::hintSize(uint64_t remaining)
{
    if (!destination_ || remaining == 0)
        return;
    const auto announced = static_cast<int64_t>(remaining);
    const int64_t hint = hintCoversUpTo_ == 0 ? std::min(announced, ByteStream::kTrustedSizeHint) : announced;
    destination_->reserve(hint);
    hintCoversUpTo_ = count_ + hint;
}

void BodyReader::readChunked(std::vector<std::string>& rawHeaders)
{
    Transfer transfer(events_, 0);
    std::string line;
    for (;;) {
        takeLine(&line);
        const uint64_t size = chunkSizeOf(line);
        if (size == 0)
            break;
        if (destination_ && size > static_cast<uint64_t>(destination_->room()))
            throwBodyTooLarge();
        takeDataOf(size, true);
        takeLine(nullptr);
    }
    // Trailer lines join the header lines, so they share the head's bound.
    size_t trailerBytes = 0;
    for (;;) {
        takeLine(&line);
        if (line.empty())
            break;
        trailerBytes += line.size();
        if (trailerBytes > kMaxHeadBytes)
            throw HttpError(FailureKind::HeaderBlockTooLarge, "Reply header block too large.");
        rawHeaders.push_back(receivedText(line));
    }
}

void BodyReader::readUntilClose()
{
    Transfer transfer(events_, 0);
    // Into a stream: what came with the header block first, then whole pieces.
    if (destination_)
        take(input_.size());
    for (;;) {
        try {
            if (destination_)
                input_.fillTo(kPiece);
            else if (input_.size() == 0)
                input_.receiveMore();
        } catch (const SocketError& error) {
            if (!endsBodyNormally(error))
                throw;
            input_.markClosed();
        }
        if (destination_) {
            take(std::min(input_.size(), kPiece));
        } else {
            countDropped(input_.size());
            input_.consume(input_.size());
            IdlePump::runIfDue();
        }
        if (input_.closed() && input_.size() == 0)
            return;
    }
}

// Reads up to and including the terminator, scanning each byte once (Knuth-Morris-Pratt),
// so a long boundary costs no more than a short one. Into a stream the pieces are those of
// any other body: what came with the header block, then pieces of kPiece.
void BodyReader::readMultipart(const std::string& boundary)
{
    Transfer transfer(events_, 0);
    const std::string terminator = "--" + boundary + "--";
    StreamMatcher matcher(terminator);
    size_t scanned = 0; // buffered bytes already fed to the matcher
    bool found = false;
    const auto scanUpTo = [&](size_t limit) {
        if (found || scanned >= limit)
            return;
        scanned += matcher.scan(input_.data() + scanned, limit - scanned);
        found = matcher.matched();
    };
    scanUpTo(input_.size());
    if (!found) {
        take(scanned);
        scanned = 0;
    }
    while (!found) {
        const size_t piece = destination_ ? kPiece : std::max<size_t>(1, input_.size());
        scanUpTo(std::min(input_.size(), piece));
        if (found)
            break;
        if (scanned == piece) {
            take(scanned);
            scanned = 0;
            continue;
        }
        if (!input_.receiveMore()) {
            take(input_.size());
            return;
        }
    }
    // The line end after the closing boundary belongs to the body as well; it goes in one
    // piece with the boundary.
    for (;;) {
        const void* lf = std::memchr(input_.data() + scanned, '\n', input_.size() - scanned);
        if (lf != nullptr) {
            take(static_cast<size_t>(static_cast<const char*>(lf) - input_.data()) + 1);
            return;
        }
        if (input_.size() - scanned > InputBuffer::kMaxLineLength)
            throw HttpError(FailureKind::ReadLnMaxLineLengthExceeded, "Max line length exceeded.");
        if (!input_.receiveMore()) {
            take(input_.size());
            return;
        }
    }
}

} // namespace vornel::http
