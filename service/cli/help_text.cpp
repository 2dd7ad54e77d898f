#include "service/cli/help_text.hpp"


namespace plexmill::cli {

std::string helpText() {
    // Printed as it stands, though it leaves options out and --timeout really takes minutes.
    return "--console         Runs the service in console mode.\n"
           "--help            Dump help.\n"
           "--version         Dump the version.\n"
           "--verbose         Run Plexmill in verbose mode.\n"
           "--color           Use colors when running in console mode.\n"
           "--quiet           Run Plexmill in quiet mode.\n"
           "--rating [RATING] Override system rating. Only intended for testing.\n"
           "--allow [HOST]    Allow connection from the host.\n"
           "--time HHMM-HHMM  Adds an allowed time period of the day. 24-hour clock.\n"
           "--kernel [PATH]   Override use of a given CAM kernel.\n"
           "--include [PATH]  Add include path for the CAM kernel root folder.\n"
           "--http            Enables HTTP mode on port 8080.\n"
           "--timeout [INT]   Sets the session timeout in hours. Default is 7 days.\n"
           "--size [INT]      Sets the maximum data size in Mb of a session.\n"
           "--sessions [INT]  Sets the maximum number of concurrent sessions.\n"
           "--nocache         Disables automatic caching on files.\n"
           "--start           Starts the service if not already running.\n"
           "--stop            Stops the service if running.\n"
           "--restart         Restarts the service.\n"
           "--reload          Requests reload of settings for the service if running.\n"
           "--install [PATH]  Registers the service.\n"
           "--uninstall       Uninstalls the service.\n"
           "--status [HOST]   Shows status information.\n"
           "--list            Lists the running instances of Plexmill on the\n"
           "                  network.\n"
           "--checkfirewall   Checks Windows Firewall settings for the plexmilld.\n"
           "--configfirewall  Automatic configuration of Windows Firewall settings.\n"
           "--help            Show this help.\n"
           "\n";
}

} // namespace plexmill::cli
