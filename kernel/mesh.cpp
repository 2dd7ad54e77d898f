#include "kernel/mesh.hpp"

#include <algorithm>
#include <limits>

namespace plexmill::kernel {

Bounds Mesh::bounds() const {
    constexpr double huge = std::numeric_limits<double>::infinity();
    Bounds box{{huge, huge, huge}, {-huge, -huge, -huge}};
    for (const Triangle& triangle : triangles) {
        for (const Vec3& p : {triangle.a, triangle.b, triangle.c}) {
            box.min = {
                std::min(box.min.x, p.x), std::min(box.min.y, p.y), std::min(box.min.z, p.z)};
            box.max = {
                std::max(box.max.x, p.x), std::max(box.max.y, p.y), std::max(box.max.z, p.z)};
        }
    }
    return box;
}

} // namespace plexmill::kernel
