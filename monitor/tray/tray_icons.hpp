// The tray icon images, compiled into the program from monitor/tray/icons/ (drawn by
// scripts/make_tray_icons.py), each in every size a tray host may ask for.
#pragma once

#include "monitor/tray_status.hpp"

#include <QIcon>

namespace plexmill::monitor {

// The image of a state; loaded once, on first use (a QGuiApplication must exist).
const QIcon& trayIconImage(TrayIcon icon);

} // namespace plexmill::monitor
