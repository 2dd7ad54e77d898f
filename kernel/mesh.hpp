// A triangle soup read from an STL file, with the bounds every strategy starts from.
#pragma once

#include "kernel/vec3.hpp"

#include <cstddef>
#include <vector>

namespace plexmill::kernel {

struct Triangle {
    Vec3 a;
    Vec3 b;
    Vec3 c;
};

struct Bounds {
    Vec3 min;
    Vec3 max;
};

struct Mesh {
    std::vector<Triangle> triangles;

    Bounds bounds() const;
};

} // namespace plexmill::kernel
