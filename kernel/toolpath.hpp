// Cutter-location paths, kept apart from the G-code written from them. A run is one
// continuous cut: the writer reaches its first point from above and retracts after its last.
#pragma once

#include "kernel/vec3.hpp"

#include <cstddef>
#include <vector>

namespace plexmill::kernel {

struct Pass {
    std::vector<Vec3> points;
};

struct Toolpath {
    std::vector<Pass> passes;
    std::size_t cutterPositions = 0; // drop-cutter queries made, for the log
};

} // namespace plexmill::kernel
