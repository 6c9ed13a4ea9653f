#pragma once
// SIGINT and SIGTERM end the program the way its close box does: the handler only wakes
// the window thread, which then closes the window there.
class QWidget;

namespace vornel::app {

// From now on SIGINT and SIGTERM close window on the window thread. Call once, on the
// window thread, with a running or soon running event loop.
void closeOnQuitSignals(QWidget& window);

} // namespace vornel::app
