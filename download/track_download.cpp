#include "download/track_download.h"

#include "download/folder_maker.h"
#include "download/pending_file.h"
#include "download/save_path.h"
#include "text/ascii.h"

#include <algorithm>
#include <memory>

namespace vornel::download {

namespace {

bool isSuccessStatus(int code)
{
    return code >= 200 && code <= 299;
}

bool isChunked(const std::string& transferEncoding)
{
    return vornel::text::lowerAscii(transferEncoding).find("chunked") != std::string::npos;
}

} // namespace

bool bodyCameWhole(int64_t received, int64_t contentLength, const std::string& transferEncoding)
{
    return isChunked(transferEncoding) || contentLength < 0 || received >= contentLength;
}

DownloadOutcome downloadTrackFile(vornel::http::HttpClient& client, const std::string& url,
                                  const std::string& likelyPath, const std::function<std::string()>& savedPath)
{
    const std::unique_ptr<PendingFile> file = openPendingFileFor(likelyPath);
    client.GetToStream(url, *file);
    const vornel::http::Response& reply = client.response();
    if (!isSuccessStatus(reply.ResponseCode))
        return DownloadOutcome::ErrorStatus;
    if (!bodyCameWhole(file->position(), reply.ContentLength, reply.TransferEncoding))
        return DownloadOutcome::CutShort;
    const std::string path = savedPath();
    // A fresh account may have no Downloads folder yet.
    makeFolderWithParents(folderOf(path));
    file->saveAs(path);
    return DownloadOutcome::Saved;
}

} // namespace vornel::download
