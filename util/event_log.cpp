#include "util/event_log.hpp"

#include "util/handle.hpp"
#include "util/version.hpp"
#include "util/write_fully.hpp"

#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <syslog.h>

namespace tnw::util {

namespace {

void appendToFile(const char* path, EventType type, std::string_view text) {
    Handle file(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file) {
        return;
    }
    std::string line = type == EventType::Error ? "error: " : "information: ";
    line.append(text);
    line.push_back('\n');
    writeFully(file.fd(), line);
}

} // namespace

void reportEvent(EventType type, std::string_view text) {
    if (const char* path = std::getenv(kEventLogVariable); path != nullptr && *path != '\0') {
        appendToFile(path, type, text);
        return;
    }
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog(kProductName, LOG_PID, LOG_DAEMON); });
    ::syslog(type == EventType::Error ? LOG_ERR : LOG_INFO,
             "%.*s",
             static_cast<int>(text.size()),
             text.data());
}

} // namespace tnw::util
