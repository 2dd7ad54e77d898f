// plexmon: the tray monitor of the local Plexmill server.
#include "monitor/tray/run_monitor.hpp"

int main(int argc, char** argv) {
    return plexmill::monitor::runMonitor(argc, argv);
}
