#pragma once
// The file host: a page per track at /file/<id> carrying the audio snippet, and the MP3
// itself at /audio/<id>.mp3.
#include "demo/http_message.h"

#include <string>

namespace vornel::demo {

class TrackFiles;

class FileHost {
public:
    // ownBase: "http://127.0.0.2:8691", the root the snippet's address starts with.
    FileHost(std::string ownBase, const TrackFiles& files) : ownBase_(std::move(ownBase)), files_(files) {}
    HttpResponse handle(const HttpRequest& request) const;

private:
    HttpResponse filePage(int id) const;
    HttpResponse audio(int id, const HttpRequest& request) const;

    std::string ownBase_;
    const TrackFiles& files_;
};

// The track id in "/file/<id>" or "/audio/<id>.mp3" after prefix, with the suffix; 0 when
// the path has another form.
int trackIdIn(const std::string& path, const std::string& prefix, const std::string& suffix);

// A "bytes=first-" or "bytes=first-last" range against a body of size bytes. False when
// the header holds no single satisfiable range of that form.
bool parseByteRange(const std::string& header, std::size_t size, std::size_t& first, std::size_t& last);

} // namespace vornel::demo
