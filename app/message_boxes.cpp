#include "app/message_boxes.h"

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

void showMessageBox(const MessageBoxRequest& request)
{
    if (presenter())
        presenter()(request);
    else
        showModal(request);
}

} // namespace vornel::app
