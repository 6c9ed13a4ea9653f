#include "app/track_titles.h"

#include <cstring>

namespace vornel::app {
namespace {

// The value of "key=value" among zero-terminated lines ended by an empty one.
QString tagValue(const char* lines, const char* key)
{
    const size_t keyLength = std::strlen(key);
    for (const char* line = lines; line && *line; line += std::strlen(line) + 1) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == '=')
            return QString::fromUtf8(line + keyLength + 1);
    }
    return {};
}

} // namespace

TrackTitle splitArtistAndTitle(const QString& text)
{
    const QString separator = QStringLiteral(" - ");
    const qsizetype at = text.indexOf(separator);
    if (at < 0)
        return {QString(), text};
    return {text.left(at), text.mid(at + separator.size())};
}

TrackTitle trackTitle(const QString& entryText, const char* icyTitleTags, const char* id3Tags)
{
    const QString icyTitle = tagValue(icyTitleTags, "title");
    if (!icyTitle.isEmpty())
        return splitArtistAndTitle(icyTitle);
    TrackTitle track = splitArtistAndTitle(entryText);
    if (const QString title = tagValue(id3Tags, "title"); !title.isEmpty())
        track.title = title;
    if (const QString artist = tagValue(id3Tags, "artist"); !artist.isEmpty())
        track.artist = artist;
    return track;
}

QString oneLine(const TrackTitle& track)
{
    return track.artist.isEmpty() ? track.title : track.artist + QStringLiteral(" - ") + track.title;
}

} // namespace vornel::app
