#include "util/access_log.hpp"

#include "util/format.hpp"
#include "util/handle.hpp"
#include "util/write_fully.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <mutex>

namespace tnw::util {

namespace {

std::mutex accessLogMutex;
Handle accessLogFile; // guarded by accessLogMutex

} // namespace

bool AccessLog::open(const std::string& folder) {
    std::lock_guard lock(accessLogMutex);
    if (accessLogFile) {
        return true;
    }
    std::string path = folder + "/access.log";
    // A link or a FIFO in the log's place was put there by someone else: never written
    // through, never waited on.
    Handle file(::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    struct stat status {};
    if (!file || ::fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    accessLogFile = std::move(file);
    return true;
}

void AccessLog::close() {
    std::lock_guard lock(accessLogMutex);
    accessLogFile.close();
    accessLogFile.reset();
}

bool AccessLog::isOpen() {
    std::lock_guard lock(accessLogMutex);
    return accessLogFile.isValid();
}

void AccessLog::write(std::string_view text) {
    std::string entry = line(Time::now(), text);
    std::lock_guard lock(accessLogMutex);
    if (accessLogFile) {
        writeFully(accessLogFile.fd(), entry);
    }
}

std::string AccessLog::line(Time time, std::string_view text) {
    std::uint64_t secondOfDay = time.value() / 1000000 % 86400;
    std::string out = formatPrintf("%02u:%02u:%02u.%03u ",
                                   static_cast<unsigned>(secondOfDay / 3600),
                                   static_cast<unsigned>(secondOfDay / 60 % 60),
                                   static_cast<unsigned>(secondOfDay % 60),
                                   static_cast<unsigned>(time.value() / 1000 % 1000));
    std::size_t start = out.size();
    out.append(text);
    for (std::size_t i = start; i < out.size(); ++i) {
        if (out[i] == '\r' || out[i] == '\n') {
            out[i] = ' ';
        }
    }
    out += "\r\n";
    return out;
}

} // namespace tnw::util
