#pragma once
// The artist and title that the desktop shows for the playing track.
#include <QString>

namespace vornel::app {

struct TrackTitle {
    QString artist; // empty when not known
    QString title;
    bool operator==(const TrackTitle&) const = default;
};

// "Artist - Title" split at its first " - "; the whole text as the title otherwise.
TrackTitle splitArtistAndTitle(const QString& text);

// What the stream says of itself wins over the playlist entry's text: a radio's ICY title
// (split like an entry text) first, then the MP3's ID3v2 title and artist; the entry's text
// fills in what the stream leaves out. The tags are the engine's "key=value" lines, or null.
TrackTitle trackTitle(const QString& entryText, const char* icyTitleTags, const char* id3Tags);

// One line for a tooltip: "Artist - Title", or the title alone.
QString oneLine(const TrackTitle& track);

} // namespace vornel::app
