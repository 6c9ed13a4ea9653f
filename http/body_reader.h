#pragma once
// Reads a reply body by its framing from the input into a destination (or drops it when
// there is none), firing the progress events of one transfer.
#include "http/byte_stream.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vornel::http {

class InputBuffer;

struct WorkEvents {
    std::function<void(int64_t size)> begin;
    std::function<void(int64_t count)> work;
    std::function<void()> end;
};

class BodyReader {
public:
    static constexpr size_t kPiece = 32768;
    // A dropped body (a redirect's, an error page's) that goes on past this fails with kind
    // "EIdBodyTooLarge": no real reply drops this much, and an endless one would hold the
    // request for ever.
    static constexpr int64_t kMaxDroppedBytes = 32 * 1024 * 1024;

    // destination nullptr: the body is read and dropped.
    BodyReader(InputBuffer& input, const WorkEvents& events, ByteStream* destination);

    void readLength(int64_t length);
    // Trailer lines are appended to rawHeaders.
    void readChunked(std::vector<std::string>& rawHeaders);
    void readUntilClose();
    void readMultipart(const std::string& boundary);

private:
    class Transfer;
    void countDropped(size_t count);
    void take(size_t count);
    void takeDataOf(uint64_t length, bool mustComplete);
    void takeLine(std::string* line);
    void hintSize(uint64_t remaining);

    InputBuffer& input_;
    const WorkEvents& events_;
    ByteStream* destination_;
    int64_t count_ = 0;
    int64_t dropped_ = 0;
    int64_t hintCoversUpTo_ = 0; // the count up to which the last size hint reached; 0: none
};

} // namespace vornel::http
