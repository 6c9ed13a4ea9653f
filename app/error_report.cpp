#include "app/error_report.h"

#include "app/message_boxes.h"

#include <exception>

namespace vornel::app {

QString errorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void reportError(const QString& message)
{
    MessageBoxRequest request;
    request.title = QStringLiteral("VornelPlayer");
    request.text = errorReportText(message);
    request.icon = QMessageBox::Critical;
    showMessageBox(request);
}

void runGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        reportError(QString::fromUtf8(failure.what()));
    } catch (...) {
        reportError(QStringLiteral("Unknown failure"));
    }
}

} // namespace vornel::app
