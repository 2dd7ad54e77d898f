// Reports to systemd about a service it started with Type=notify: READY=1 once the service
// works, STOPPING=1 when it begins to stop, STATUS= lines for `systemctl status`. The protocol is
// one datagram to the socket systemd names in $NOTIFY_SOCKET, so no library is needed for it.
#pragma once

#include <string_view>

namespace tnw::util {

class SystemdNotifier {
public:
    // Takes $NOTIFY_SOCKET out of the environment, so that the programs the service starts
    // cannot report in its name. Call once at start, before other threads read the environment.
    static void takeSocketFromEnvironment();
    // True when systemd asked for reports.
    static bool enabled();
    // Sends "NAME=value" lines, separated by line feeds; false when not enabled or not sent.
    static bool notify(std::string_view state);
};

} // namespace tnw::util
