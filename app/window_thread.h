#pragma once

namespace vornel::app {
// Whether the calling thread is the window (GUI) thread.
bool onWindowThread();

} // namespace vornel::app
