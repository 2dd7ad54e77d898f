#include "util/environment.hpp"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

extern char** environ;

namespace tnw::util {

namespace {
// getenv hands out pointers into the table that setenv replaces; every access in the program
// goes through these functions and this lock.
std::mutex& environmentLock() {
    static std::mutex lock;
    return lock;
}
} // namespace

std::string getEnvironment(const std::string& name) {
    std::lock_guard lock(environmentLock());
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? value : std::string();
}

bool setEnvironment(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) {
        return false;
    }
    std::lock_guard lock(environmentLock());
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

void unsetEnvironment(const std::string& name) {
    std::lock_guard lock(environmentLock());
    ::unsetenv(name.c_str());
}

std::vector<std::string> environmentBlock() {
    std::lock_guard lock(environmentLock());
    std::vector<std::string> block;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        block.emplace_back(*entry);
    }
    return block;
}

std::string userName() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string storage(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, storage.data(), storage.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        return found->pw_name;
    }
    return {};
}

} // namespace tnw::util
