#include "util/exception.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tnw::util {

const char* demangledName(const std::type_info& type) {
    static std::mutex mutex;
    static std::map<const std::type_info*, std::string> names;
    std::lock_guard lock(mutex);
    auto [it, inserted] = names.try_emplace(&type);
    if (inserted) {
        int status = 0;
        std::unique_ptr<char, decltype(&std::free)> name(
            abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
        it->second = status == 0 && name ? name.get() : type.name();
    }
    return it->second.c_str();
}

} // namespace tnw::util
