#include "util/resource_limits.hpp"

#include <sys/resource.h>

namespace tnw::util {

DescriptorLimit descriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return {};
    }
    return {limit.rlim_cur, limit.rlim_max};
}

std::uint64_t raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            return raised.rlim_cur;
        }
    }
    return limit.rlim_cur;
}

} // namespace tnw::util
