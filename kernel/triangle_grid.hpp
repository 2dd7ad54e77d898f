// A uniform grid over the XY projection of the model. Each cell lists the triangles whose
// XY bounds overlap it, highest first, so a query that already stands above a triangle's top
// can stop reading the cell there.
#pragma once

#include "kernel/cutter.hpp"
#include "kernel/mesh.hpp"

#include <algorithm>
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

    // Calls visit(entries, count, distance²) for each non-empty cell overlapping the square
    // [x ± r] × [y ± r], with the squared distance from (x, y) to the cell, in rings from the
    // cell holding (x, y) outward: what the near cells give lets the far ones be skipped.
    template <typename Visit> void forCells(double x, double y, double r, Visit&& visit) const {
        int centreX = cellX(x);
        int centreY = cellY(y);
        int firstX = cellX(x - r);
        int lastX = cellX(x + r);
        int firstY = cellY(y - r);
        int lastY = cellY(y + r);
        auto visitCell = [&](int cx, int cy) {
            if (cx < firstX || cx > lastX || cy < firstY || cy > lastY) {
                return;
            }
            std::size_t cell = static_cast<std::size_t>(cy) * columns_ + cx;
            std::uint32_t count = starts_[cell + 1] - starts_[cell];
            if (count == 0) {
                return;
            }
            double left = bounds_.min.x + cx * cellSize_;
            double bottom = bounds_.min.y + cy * cellSize_;
            double dx = std::max({left - x, x - (left + cellSize_), 0.0});
            double dy = std::max({bottom - y, y - (bottom + cellSize_), 0.0});
            visit(entries_.data() + starts_[cell], count, dx * dx + dy * dy);
        };
        int rings =
            std::max({centreX - firstX, lastX - centreX, centreY - firstY, lastY - centreY});
        visitCell(centreX, centreY);
        for (int ring = 1; ring <= rings; ++ring) {
            for (int i = -ring; i < ring; ++i) {
                visitCell(centreX + i, centreY - ring);
                visitCell(centreX + ring, centreY + i);
                visitCell(centreX - i, centreY + ring);
                visitCell(centreX - ring, centreY - i);
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
