#pragma once
// Every message box of the program goes through here, so tests can record them instead
// of opening a modal box.
#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace vornel::app {

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString title; // empty: the platform's default title
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

using MessageBoxPresenter = std::function<void(const MessageBoxRequest&)>;

// Replaces the presenter (an empty function restores the modal box).
void setMessageBoxPresenter(MessageBoxPresenter presenter);
// Shows a modal box with one OK button and returns when it is dismissed. While a box is
// open, another one asked for (by a handler that its event loop runs) is not shown.
void showMessageBox(const MessageBoxRequest& request);

} // namespace vornel::app
