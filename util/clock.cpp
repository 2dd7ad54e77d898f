#include "util/clock.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace tnw::util {

namespace {

const char* shiftFile() {
    static const char* path = [] {
        const char* value = std::getenv("PLEXMILL_TEST_CLOCK");
        return value != nullptr && *value != '\0' ? value : nullptr;
    }();
    return path;
}

} // namespace

bool clockShiftEnabled() { return shiftFile() != nullptr; }

std::uint64_t clockShift() {
    const char* path = shiftFile();
    if (path == nullptr) {
        return 0;
    }
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    ssize_t size = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    return size > 0 ? std::strtoull(text, nullptr, 10) : 0;
}

std::uint64_t monotonicMicroseconds() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) +
           clockShift();
}

} // namespace tnw::util
