// The system log entries of a program running as a service: syslog(3) under the ident
// "Quorvex Plexmill", or, when PLEXMILL_EVENT_LOG names a file, one line per entry appended to
// that file ("error: TEXT" or "information: TEXT"), so tests can read what a service reported.
#pragma once

#include <string_view>

namespace tnw::util {

inline constexpr char kEventLogVariable[] = "PLEXMILL_EVENT_LOG";

enum class EventType {
    Error = 1,
    Information = 4,
};

// Failures are dropped: there is nowhere left to report them.
void reportEvent(EventType type, std::string_view text);

} // namespace tnw::util
