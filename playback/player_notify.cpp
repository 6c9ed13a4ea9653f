#include "playback/player_notify.h"

#include <atomic>
#include <memory>

namespace vornel::playback {
namespace {
std::atomic<std::shared_ptr<const NotifyFunction>> notifyWindow;
}

void setNotifyWindow(NotifyFunction notify)
{
    if (notify)
        notifyWindow.store(std::make_shared<const NotifyFunction>(std::move(notify)));
    else
        notifyWindow.store(nullptr);
}

void sendPlayerNotify(uint32_t code, intptr_t value)
{
    // Keep the function alive for the call even if the window replaces it meanwhile.
    std::shared_ptr<const NotifyFunction> notify = notifyWindow.load();
    if (notify)
        (*notify)(code, value);
}

} // namespace vornel::playback
