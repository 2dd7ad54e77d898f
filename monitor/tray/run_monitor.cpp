#include "monitor/tray/run_monitor.hpp"

#include "monitor/autostart_entry.hpp"
#include "monitor/desktop_commands.hpp"
#include "monitor/monitor_state.hpp"
#include "monitor/poll_loop.hpp"
#include "monitor/service_probe.hpp"
#include "monitor/tray/qt_desktop_shell.hpp"
#include "monitor/tray/tray_view.hpp"
#include "monitor/tray_actions.hpp"
#include "service/protocol/namespaces.hpp"
#include "util/environment.hpp"
#include "util/instance_lock.hpp"
#include "util/process.hpp"
#include "util/version.hpp"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace plexmill::monitor {

namespace {

constexpr char kUsage[] = "Usage: plexmon [--help | --version]\n"
                          "Shows the state of the local %s server in the system tray and\n"
                          "starts, stops, pauses and resumes its service from the tray's menu.\n";

// Qt chooses the platform itself unless told; without either display it would abort.
bool hasDisplay() {
    using tnw::util::getEnvironment;
    return !getEnvironment("QT_QPA_PLATFORM").empty() || !getEnvironment("DISPLAY").empty() ||
           !getEnvironment("WAYLAND_DISPLAY").empty();
}

// Qt ends the process on a fatal error (a display it cannot open); say so plainly, without the
// core dump of an abort.
void reportQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "plexmon: %s\n", message.toLocal8Bit().constData());
        std::_Exit(1);
    }
    if (type != QtDebugMsg && type != QtInfoMsg) {
        std::fprintf(stderr, "plexmon: %s\n", message.toLocal8Bit().constData());
    }
}

} // namespace

int runMonitor(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        std::string_view argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            std::printf(kUsage, tnw::util::kProductName);
            return 0;
        }
        if (argument == "--version") {
            std::printf("plexmon %s\n", tnw::util::versionText().c_str());
            return 0;
        }
    }
    if (!hasDisplay()) {
        std::fputs("plexmon: no graphical display to show the tray icon on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set)\n",
                   stderr);
        return 1;
    }
    // Another monitor on this machine shows the same; this one leaves quietly.
    std::string instanceName = protocol::monitorInstanceName();
    if (tnw::util::InstanceLock::isHeld(instanceName)) {
        return 0;
    }
    tnw::util::Handle instance = tnw::util::InstanceLock::acquire(instanceName);
    if (!instance) {
        return 0;
    }

    qInstallMessageHandler(reportQtMessage);
    QApplication application(argc, argv);
    QApplication::setApplicationName("plexmon");
    QApplication::setApplicationDisplayName(QString::fromUtf8(tnw::util::kProductName));
    QApplication::setQuitOnLastWindowClosed(false);
    // Best effort: raising the priority needs privileges the user seldom has.
    tnw::util::Process::current().setPriority(tnw::util::priority_class::kAboveNormal);

    MonitorState state;
    SystemServiceProbe probe;
    QtDesktopShell shell;
    TrayActions actions(
        shell, probe, AutostartEntry(), systemDesktopEnvironment(), [] { QApplication::quit(); });
    TrayView view(state, probe, actions);
    Poller poller(state, PollOptions{});
    poller.start();
    view.show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fputs("plexmon: no system tray yet; the icon appears when one starts\n", stderr);
    }
    QApplication::exec();
    view.hide();
    poller.stop();
    return 0;
}

} // namespace plexmill::monitor
