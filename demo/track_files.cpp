#include "demo/track_files.h"

#include "demo/demo_tracks.h"
#include "demo/mp3_encoder.h"
#include "demo/tone_pcm.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vornel::demo {
namespace {

// Creates the folder (mode 0700) if needed and refuses one that another user owns, since
// the files in it are served as they are.
std::string ensureOwnDir(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create " + dir + ": " + std::strerror(errno);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return "cannot inspect " + dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return dir + " is not a folder";
    if (st.st_uid != ::geteuid())
        return dir + " belongs to another user";
    return {};
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return !out.empty();
}

// Encodes the missing files on a few threads; lame is the slow part of start-up.
std::string encodeMissing(const std::vector<std::pair<const DemoTrack*, std::string>>& jobs, int seconds)
{
    std::atomic<std::size_t> next{0};
    std::mutex errorLock;
    std::string firstError;
    auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            const std::string error = encodeMp3(makeTone(jobs[i].first->pitchHz, seconds), jobs[i].second);
            if (!error.empty()) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (firstError.empty())
                    firstError = error;
            }
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < threads; ++i)
        pool.emplace_back(work);
    for (std::thread& t : pool)
        t.join();
    return firstError;
}

} // namespace

std::string defaultCacheDir()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache)
        return std::string(cache) + "/vornel-demo";
    return "/tmp/vornel-demo-" + std::to_string(::geteuid());
}

std::string trackFileName(int id, int pitchHz, int seconds)
{
    return "track-" + trackIdText(id) + "-" + std::to_string(pitchHz) + "hz-" + std::to_string(seconds) + "s.mp3";
}

std::string TrackFiles::prepare(const std::string& cacheDir, int seconds)
{
    if (std::string error = ensureOwnDir(cacheDir); !error.empty())
        return error;
    std::vector<std::pair<const DemoTrack*, std::string>> all, missing;
    for (const DemoTrack& t : demoTracks()) {
        if (t.dead)
            continue;
        std::string path = cacheDir + "/" + trackFileName(t.id, t.pitchHz, seconds);
        if (!fileExists(path))
            missing.emplace_back(&t, path);
        all.emplace_back(&t, std::move(path));
    }
    if (std::string error = encodeMissing(missing, seconds); !error.empty())
        return error;
    for (const auto& [track, path] : all) {
        if (!readFile(path, files_[track->id]))
            return "cannot read " + path;
    }
    return {};
}

const std::string* TrackFiles::bytes(int id) const
{
    const auto it = files_.find(id);
    return it == files_.end() ? nullptr : &it->second;
}

} // namespace vornel::demo
