#include "app/message_boxes.h"

#include <QScopeGuard>

namespace vornel::app {
namespace {
MessageBoxPresenter& presenter()
{
    static MessageBoxPresenter current;
    return current;
}

void showModal(const MessageBoxRequest& request)
{
    QMessageBox box(request.icon, request.title, request.text, QMessageBox::Ok, request.owner);
    box.exec();
}
} // namespace

void setMessageBoxPresenter(MessageBoxPresenter replacement)
{
    presenter() = std::move(replacement);
}

// The handlers that an open box's event loop runs (hot keys, media controls, reports of
// streams) must not pile boxes on top of it: while one is open, others are not shown.
void showMessageBox(const MessageBoxRequest& request)
{
    static bool boxOpen = false;
    if (boxOpen)
        return;
    boxOpen = true;
    const auto closed = qScopeGuard([] { boxOpen = false; });
    if (presenter())
        presenter()(request);
    else
        showModal(request);
}

} // namespace vornel::app
