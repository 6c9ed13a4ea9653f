#pragma once
// The demo catalogue's content: thirty tracks on three pages, each a tone of its own pitch.
#include <string>
#include <vector>

namespace vornel::demo {

struct DemoTrack {
    int id = 0;        // 1..30, shown with two digits in addresses and titles
    int page = 0;      // catalogue page that lists it
    int pitchHz = 0;   // the tone the track carries
    std::string title; // the link's visible text
    bool dead = false; // its file page carries no audio snippet
};

inline constexpr int kTracksPerPage = 10;
inline constexpr int kPageCount = 3;

const std::vector<DemoTrack>& demoTracks();
std::vector<DemoTrack> tracksOnPage(int page);
const DemoTrack* findTrack(int id);
// "01" for 1: the form used in /file/<id> and /audio/<id>.mp3.
std::string trackIdText(int id);

} // namespace vornel::demo
