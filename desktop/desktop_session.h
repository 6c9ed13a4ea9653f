#pragma once

namespace vornel::desktop {

// Prepares the program's place in the desktop session; call before the application object
// is made. The loading overlay's animation and the global key grabs need X11, so Qt is
// asked for its xcb platform (XWayland on a Wayland session) unless the user chose one in
// QT_QPA_PLATFORM; and the windows name the installed desktop entry, so that panels and
// task switchers show the program's name and icon for them.
void prepareDesktopSession();

} // namespace vornel::desktop
