// What ties the window to its desktop entry, so that docks and task bars show the entry's name and
// icon for it: the program's icon, and the desktop file name they match windows to entries by.
#pragma once

#include <QIcon>
#include <QString>

namespace kfw {

// The desktop entry's name without ".desktop", which is also the icon's name:
// "io.github.kfwupdate.kfwupdate".
QString DesktopEntryName();

// The program's icon, compiled in from packaging/desktop (the icon the desktop entry names), so
// that it is there installed and in the build tree alike.
QIcon ApplicationIcon();

// Gives the application its desktop file name (the window's app id on Wayland; on X11 a property
// of each window) and its icon, which every window without one of its own takes. After the
// QApplication is made, before the first window shows.
void SetDesktopIdentity();

}  // namespace kfw
