#include "util/time.hpp"

#include <time.h>

namespace tnw::util {

Time Time::now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return fromUnixMicroseconds(static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
}

} // namespace tnw::util
