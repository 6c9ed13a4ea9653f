#include "demo/demo_tracks.h"

#include <cstdio>

namespace vornel::demo {
namespace {

// Page 1 climbs from 330 Hz in steps of 110 Hz; pages 2 and 3 sit 35 and 70 Hz above it,
// so every pitch in the catalogue is at least 35 Hz away from every other.
int pitchFor(int page, int indexOnPage)
{
    return 330 + 110 * indexOnPage + 35 * (page - 1);
}

// Entry 4 on page 1 and entry 7 on page 2 lead to file pages whose audio was removed.
bool isDead(int id)
{
    return id == 4 || id == 17;
}

std::string titleFor(int id, int pitchHz)
{
    const char* band = (id == 7 || id == 23) ? "Demo Band & Friends" : "Demo Band";
    char text[96];
    std::snprintf(text, sizeof text, "%s - Track %02d (%d Hz)", band, id, pitchHz);
    return text;
}

std::vector<DemoTrack> makeTracks()
{
    std::vector<DemoTrack> tracks;
    for (int page = 1; page <= kPageCount; ++page) {
        for (int i = 0; i < kTracksPerPage; ++i) {
            DemoTrack t;
            t.id = (page - 1) * kTracksPerPage + i + 1;
            t.page = page;
            t.pitchHz = pitchFor(page, i);
            t.title = titleFor(t.id, t.pitchHz);
            t.dead = isDead(t.id);
            tracks.push_back(t);
        }
    }
    return tracks;
}

} // namespace

const std::vector<DemoTrack>& demoTracks()
{
    static const std::vector<DemoTrack> tracks = makeTracks();
    return tracks;
}

std::vector<DemoTrack> tracksOnPage(int page)
{
    std::vector<DemoTrack> result;
    for (const DemoTrack& t : demoTracks())
        if (t.page == page)
            result.push_back(t);
    return result;
}

const DemoTrack* findTrack(int id)
{
    for (const DemoTrack& t : demoTracks())
        if (t.id == id)
            return &t;
    return nullptr;
}

std::string trackIdText(int id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", id);
    return text;
}

} // namespace vornel::demo
