// A uniform grid over the XY projection of the model. Each cell lists the triangles whose
// XY bounds overlap it, highest first, so a query that already stands above a triangle's top
// can stop reading the cell there.
#pragma once

#include "kernel/cutter.hpp"
#include "kernel/mesh.hpp"

#include <cstdint>
#include <vector>

namespace plexmill::kernel {

class TriangleGrid {
public:
    // One row of a cell: the triangle's XY bounds and top, rounded outward to float.
    struct Entry {
        float minX;
        float minY;
        float maxX;
        float maxY;
        float maxZ;
        std::uint32_t index;
    };

    // `reach` is the radius of the cutter the grid will serve; cells are sized from it.
    TriangleGrid(const Mesh& mesh, double reach);

    const std::vector<Facet>& facets() const { return facets_; }
    const Bounds& bounds() const { return bounds_; }

    // Calls visit(entries, count) for each cell overlapping the square [x ± r] × [y ± r],
    // the cell holding (x, y) first: what it finds lets the others stop early.
    template <typename Visit> void forCells(double x, double y, double r, Visit&& visit) const {
        int centreX = cellX(x);
        int centreY = cellY(y);
        auto visitCell = [&](int cx, int cy) {
            std::size_t cell = static_cast<std::size_t>(cy) * columns_ + cx;
            visit(entries_.data() + starts_[cell], starts_[cell + 1] - starts_[cell]);
        };
        visitCell(centreX, centreY);
        int firstX = cellX(x - r);
        int lastX = cellX(x + r);
        int firstY = cellY(y - r);
        int lastY = cellY(y + r);
        for (int cy = firstY; cy <= lastY; ++cy) {
            for (int cx = firstX; cx <= lastX; ++cx) {
                if (cx != centreX || cy != centreY) {
                    visitCell(cx, cy);
                }
            }
        }
    }

private:
    int cellX(double x) const;
    int cellY(double y) const;

    std::vector<Facet> facets_;
    Bounds bounds_;
    double cellSize_ = 1;
    int columns_ = 1;
    int rows_ = 1;
    std::vector<std::uint32_t> starts_;
    std::vector<Entry> entries_;
};

} // namespace plexmill::kernel
