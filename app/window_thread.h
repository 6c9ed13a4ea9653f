#pragma once
// Whether the calling thread is the window (GUI) thread.
bool onWindowThread();
