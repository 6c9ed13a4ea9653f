#include "app/window_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace vornel::app {

bool onWindowThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

} // namespace vornel::app
