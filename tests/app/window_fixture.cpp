#include "window_fixture.h"

#include <QListWidget>

namespace vornel::test {

void WindowTest::setPlaylist(const std::vector<std::pair<std::string, QString>>& entries, int selected)
{
    window->lb_PlayList->clear();
    window->linkUrls->clear();
    for (const auto& [url, text] : entries) {
        window->linkUrls->push_back(url);
        window->lb_PlayList->addItem(text);
    }
    window->lb_PlayList->setCurrentRow(selected);
}

} // namespace vornel::test
