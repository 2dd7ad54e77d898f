// Machine-wide "only one of us" names. A name is held by a listening abstract Unix-domain
// socket: it exists while its process lives, is released when the process dies however it
// ends, and is scoped to the network namespace (what a machine is in the tests).
#pragma once

#include <string>

#include "util/handle.hpp"

namespace tnw::util {

class InstanceLock {
public:
    // Takes the name; an empty Handle when another process holds it or it cannot be taken.
    static Handle acquire(const std::string& name);
    // True when some process holds the name.
    static bool isHeld(const std::string& name);
};

} // namespace tnw::util
