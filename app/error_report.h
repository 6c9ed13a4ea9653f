#pragma once
// The application's standard error report for a failure that escapes an event handler.
#include <QString>

#include <functional>

namespace vornel::app {

// The message with a full stop appended when its last character's code is above '.'.
QString errorReportText(const QString& message);

// Shows the report box: title "VornelPlayer", error icon, OK.
void reportError(const QString& message);

// Runs a handler so that no exception leaves it: a failure goes to the error report.
void runGuarded(const std::function<void()>& handler);

} // namespace vornel::app
