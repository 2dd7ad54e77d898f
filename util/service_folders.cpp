#include "util/service_folders.hpp"

#include "util/environment.hpp"

namespace tnw::util {

namespace {

// systemd joins several folders of one kind with ":"; the first is the one the unit named first.
std::string givenOr(const char* variable, const std::string& fallback) {
    std::string given = getEnvironment(variable);
    given = given.substr(0, given.find(':'));
    return given.empty() ? fallback : given;
}

} // namespace

std::string serviceStateFolder() {
    return givenOr("STATE_DIRECTORY", std::string("/var/lib/") + kServiceFolderName);
}

std::string serviceCacheFolder() {
    return givenOr("CACHE_DIRECTORY", std::string("/var/cache/") + kServiceFolderName);
}

} // namespace tnw::util
