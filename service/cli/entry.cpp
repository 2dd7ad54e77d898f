#include "service/cli/entry.hpp"

#include "service/cli/command_line.hpp"
#include "service/cli/firewall_commands.hpp"
#include "service/cli/help_text.hpp"
#include "service/cli/network_queries.hpp"
#include "service/cli/remote_session.hpp"
#include "service/cli/server_wiring.hpp"
#include "service/cli/service_commands.hpp"
#include "service/cli/service_main.hpp"
#include "service/server/banner.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "util/code_signature.hpp"
#include "util/console.hpp"
#include "util/console_manager.hpp"
#include "util/format.hpp"
#include "util/messages.hpp"
#include "util/terminal.hpp"
#include "util/version.hpp"

#include <cstdio>

namespace plexmill::cli {

namespace {

const char* commandOption(Command command) {
    switch (command) {
    case Command::Start: return "--start";
    case Command::Stop: return "--stop";
    case Command::Pause: return "--pause";
    case Command::Resume: return "--resume";
    case Command::Restart: return "--restart";
    case Command::Reload: return "--reload";
    case Command::DisableHttp: return "--disablehttp";
    case Command::EnableHttp: return "--enablehttp";
    case Command::Install: return "--install";
    case Command::Uninstall: return "--uninstall";
    case Command::Cert: return "--cert";
    case Command::Console: return "--console";
    case Command::Connect: return "--connect";
    case Command::IsCached: return "--iscached";
    case Command::Status: return "--status";
    case Command::List: return "--list";
    case Command::CheckFirewall: return "--checkfirewall";
    case Command::ConfigFirewall: return "--configfirewall";
    case Command::None: break;
    }
    return "";
}

void applyOutputOptions(const server::Settings& settings) {
    auto output = tnw::util::outputOptions();
    output.color = settings.color;
    output.verbose = settings.verbose;
    output.debug = settings.debug;
    output.quiet = settings.quiet;
    tnw::util::setOutputOptions(output);
}

// The exit code of a program that was to run as the service but is not the supervisor's.
constexpr int kNoServiceDispatcher = 1001;

int notAvailableYet(Command command) {
    tnw::util::printError(
        tnw::util::format("The %1 command is not available in this version of plexmilld.", commandOption(command)));
    return 1;
}

int runCommand(const CommandLine& line, const server::Settings& settings) {
    switch (line.command) {
    case Command::None:
        if (tnw::util::hasControllingTerminal()) {
            if (!settings.quiet) {
                std::fputs(server::bannerText().c_str(), stdout);
            }
            std::fputs(helpText().c_str(), stdout);
            return 0;
        }
        if (takeServiceMarker()) {
            return runAsService();
        }
        // Neither a terminal nor the service supervisor: nobody would see the help, and a
        // server started this way would be nobody's to stop.
        tnw::util::printError(
            "No command given. Start the server with --console, or as a service with --start.");
        return kNoServiceDispatcher;
    case Command::Cert:
        return tnw::util::hasRootStore() ? 0 : 1;
    case Command::List:
        if (!settings.quiet) {
            std::fputs(server::bannerText().c_str(), stdout);
        }
        listServers();
        return 0;
    case Command::Status:
        if (!settings.quiet) {
            std::fputs(server::bannerText().c_str(), stdout);
        }
        if (line.targetHost.empty()) {
            showLocalStatus();
        } else {
            showStatus(line.targetHost);
        }
        return 0;
    case Command::Connect:
        return runRemoteSession(line.targetHost, line.jobFile, line.furtherFiles, line.resultFile);
    case Command::IsCached:
        return showCached(line.targetHost, line.jobFile);
    case Command::Console:
        if (server::runServer(wireServer) != 0) {
            tnw::util::printError(tnw::util::format("Failed to run %1.", tnw::util::kProductName));
            return 1;
        }
        return 0;
    case Command::CheckFirewall: return checkFirewall(line.firewallPorts);
    case Command::ConfigFirewall: return configureFirewall(line.firewallPorts);
    case Command::Start:
    case Command::Stop:
    case Command::Pause:
    case Command::Resume:
    case Command::Restart:
    case Command::Reload:
    case Command::EnableHttp:
    case Command::DisableHttp:
    case Command::Install:
    case Command::Uninstall:
        return runServiceCommand(line);
    default:
        return notAvailableYet(line.command);
    }
}

} // namespace

int runMain(int argc, const char* const* argv) {
    tnw::util::registerBuiltInMessages();
    tnw::util::ConsoleManager::install();
    // The interrupt thread must be gone before the process exits.
    struct ConsoleGuard {
        ~ConsoleGuard() { tnw::util::ConsoleManager::uninstall(); }
    } consoleGuard;

    CommandLine line;
    server::Settings& settings = server::settings();
    ParseOutcome outcome = parseCommandLine(argc, argv, line, settings);
    applyOutputOptions(settings);
    switch (outcome.action) {
    case ParseOutcome::Action::ShowHelp:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case ParseOutcome::Action::ShowVersion:
        std::puts(server::versionLine().c_str());
        return 0;
    case ParseOutcome::Action::Fail:
        tnw::util::printError(outcome.error);
        return 1;
    case ParseOutcome::Action::Run:
        break;
    }

    if (settings.cloud && settings.fixedKernel.empty() && settings.includePaths.empty()) {
        tnw::util::printLine(tnw::util::ConsoleStream::Error, tnw::util::ConsoleColour::Error,
                             "Error: CAM kernel path or folder must be specified in cloud mode.");
        return 1;
    }
    return runCommand(line, settings);
}

} // namespace plexmill::cli
