// Limits the system puts on this process.
#pragma once

#include <cstdint>

namespace tnw::util {

struct DescriptorLimit {
    std::uint64_t current = 0; // what open() and accept() are held to now
    std::uint64_t maximum = 0; // what the process may raise it to
};

DescriptorLimit descriptorLimit();

// Raises the number of descriptors this process may hold to the most it is allowed, so that a
// server with many clients fails late rather than at the distribution's small default. Returns
// the limit now in force (the old one when raising failed).
std::uint64_t raiseDescriptorLimit();

} // namespace tnw::util
