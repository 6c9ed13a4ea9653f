#pragma once
// One track download: the reply body goes to disk as it arrives and becomes the saved file
// only when the whole track came.
#include "http/http_client.h"

#include <functional>
#include <string>

namespace vornel::download {

enum class DownloadOutcome {
    Saved,
    ErrorStatus, // the reply was no success: its body is not the track, nothing is written
    CutShort,    // fewer bytes came than the reply announced: nothing is written
};

// GETs url with client into a pending file made next to likelyPath (see openPendingFileFor),
// then, after the transfer, asks savedPath() where the file goes, makes its folder (and the
// folder's parents) when missing, and puts the file there in one step. Network and file
// failures are thrown; an existing file at the saved path is then left as it was, and no
// part of the new bytes remains anywhere.
DownloadOutcome downloadTrackFile(vornel::http::HttpClient& client, const std::string& url,
                                  const std::string& likelyPath, const std::function<std::string()>& savedPath);

// True unless the reply announced a length (without chunked framing) and fewer bytes came:
// the client ends a length-framed body normally when the server closes early.
bool bodyCameWhole(int64_t received, int64_t contentLength, const std::string& transferEncoding);

} // namespace vornel::download
