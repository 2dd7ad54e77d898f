#include "monitor/tray_actions.hpp"

#include "util/files.hpp"
#include "util/format.hpp"
#include "util/version.hpp"

#include <cstdio>

namespace plexmill::monitor {

TrayActions::TrayActions(DesktopShell& shell,
                         ServiceProbe& probe,
                         AutostartEntry autostart,
                         DesktopEnvironment environment,
                         std::function<void()> closeMonitor)
    : shell_(shell), probe_(probe), autostart_(std::move(autostart)),
      environment_(std::move(environment)), closeMonitor_(std::move(closeMonitor)) {}

MenuFacts TrayActions::menuFacts(const MonitorState& state) {
    MenuFacts facts;
    facts.serviceRunning = probe_.serviceRunning();
    facts.servicePaused = facts.serviceRunning && probe_.servicePaused();
    facts.httpAvailable = state.httpAvailable;
    facts.httpSetting = probe_.httpSetting();
    facts.startsOnLogon = autostart_.enabled();
    facts.serviceActionRunning = serviceActionRunning_;
    if (probe_.serverRunning()) {
        facts.sessions = state.lists();
    }
    return facts;
}

void TrayActions::perform(MenuCommand command, const MenuFacts& facts) {
    std::string product = tnw::util::kProductName;
    switch (command) {
    case MenuCommand::kStart:
        runService("--start");
        break;
    case MenuCommand::kStop:
        runService("--stop");
        break;
    case MenuCommand::kPauseOrResume:
        if (facts.servicePaused) {
            runService("--resume", [this, product] {
                if (probe_.servicePaused()) {
                    shell_.showError("Failed to resume " + product + ".");
                }
            });
        } else {
            runService("--pause", [this, product] {
                if (!probe_.servicePaused()) {
                    shell_.showError("Failed to pause " + product + ".");
                }
            });
        }
        break;
    case MenuCommand::kStartInConsole:
        startInConsole();
        break;
    case MenuCommand::kEnableHttp:
        runService("--enablehttp");
        break;
    case MenuCommand::kDisableHttp:
        runService("--disablehttp");
        break;
    case MenuCommand::kShowStatus:
        shell_.open(kStatusPageAddress);
        break;
    case MenuCommand::kTaskManager:
        shell_.open(kTaskManagerAddress);
        break;
    case MenuCommand::kStartOnLogon:
        toggleStartOnLogon(facts.startsOnLogon);
        break;
    case MenuCommand::kEventLog:
        showEventLog();
        break;
    case MenuCommand::kOpenWebsite:
        shell_.open(tnw::util::kProductWebAddress);
        break;
    case MenuCommand::kCloseMonitor:
        closeMonitor_();
        break;
    case MenuCommand::kNone:
        break;
    }
}

void TrayActions::runService(const std::string& option, std::function<void()> then) {
    // The menu offers no service item while one runs; a command chosen from a menu opened
    // before is dropped rather than run on top of it.
    if (serviceActionRunning_) {
        return;
    }
    serviceActionRunning_ = true;
    shell_.runHidden(serviceCommand(environment_, option), [this, then = std::move(then)] {
        serviceActionRunning_ = false;
        if (then) {
            then();
        }
    });
}

void TrayActions::startInConsole() {
    // The console server would find the service's instance name taken: the service stops first.
    runService("--stop", [this] {
        Command console = consoleCommand(environment_);
        if (console.empty() || !shell_.startDetached(console)) {
            std::fputs(
                "plexmon: no terminal to run the server in (x-terminal-emulator or $TERMINAL)\n",
                stderr);
        }
    });
}

void TrayActions::toggleStartOnLogon(bool enabled) {
    std::string error;
    if (!(enabled ? autostart_.disable(error) : autostart_.enable(error))) {
        std::fprintf(stderr, "plexmon: %s\n", error.c_str());
    }
}

void TrayActions::showEventLog() {
    Command journal = eventLogCommand(environment_);
    if (!journal.empty() && shell_.startDetached(journal)) {
        return;
    }
    if (!tnw::util::exists(kSyslogFile) || !shell_.open(kSyslogFile)) {
        std::fprintf(stderr, "plexmon: no journal and no %s to show\n", kSyslogFile);
    }
}

} // namespace plexmill::monitor
