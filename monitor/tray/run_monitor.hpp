// plexmon's entry: one monitor per machine, the polling thread, and the tray until the user
// closes the monitor.
#pragma once

namespace plexmill::monitor {

// The process exit code: 0, also when another monitor already runs; 1 without a display.
int runMonitor(int argc, char** argv);

} // namespace plexmill::monitor
