#pragma once

// The loading overlay's animation and the global key grabs need X11: asks Qt for its xcb
// platform (XWayland on a Wayland session) unless the user chose one in QT_QPA_PLATFORM.
// Call before the application object is made.
void preferX11Platform();
