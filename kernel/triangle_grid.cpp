#include "kernel/triangle_grid.hpp"

#include "kernel/error.hpp"

#include <algorithm>
#include <cmath>

namespace plexmill::kernel {
namespace {

float down(double value) {
    float rounded = static_cast<float>(value);
    return rounded > value ? std::nextafter(rounded, -INFINITY) : rounded;
}

float up(double value) {
    float rounded = static_cast<float>(value);
    return rounded < value ? std::nextafter(rounded, INFINITY) : rounded;
}

// Cells are a quarter of the cutter's reach wide: a query looks at about 80 of them, most of
// which the cell's top and distance rule out at once, and a triangle of a fine mesh lands in
// one or two. Coarse meshes get cells no smaller than their triangles.
double chooseCellSize(const Mesh& mesh, const Bounds& bounds, double reach) {
    double sizes = 0;
    for (const Triangle& t : mesh.triangles) {
        sizes += std::max({t.a.x, t.b.x, t.c.x}) - std::min({t.a.x, t.b.x, t.c.x}) +
                 std::max({t.a.y, t.b.y, t.c.y}) - std::min({t.a.y, t.b.y, t.c.y});
    }
    double typical = sizes / (2.0 * static_cast<double>(mesh.triangles.size()));
    double size = std::max(reach / 4, typical);
    // Keep the cell table within a few entries per triangle however small the cutter.
    double width = bounds.max.x - bounds.min.x;
    double depth = bounds.max.y - bounds.min.y;
    double limit = 4.0 * static_cast<double>(mesh.triangles.size()) + 1024;
    if (width * depth / (size * size) > limit) {
        size = std::sqrt(width * depth / limit);
    }
    return size > 0 ? size : 1;
}

} // namespace

TriangleGrid::TriangleGrid(const Mesh& mesh, double reach) : bounds_(mesh.bounds()) {
    if (mesh.triangles.size() >= UINT32_MAX) {
        throw JobError("the model has too many triangles");
    }
    facets_.reserve(mesh.triangles.size());
    for (const Triangle& t : mesh.triangles) {
        facets_.push_back(makeFacet(t.a, t.b, t.c));
    }
    cellSize_ = chooseCellSize(mesh, bounds_, reach);
    columns_ = static_cast<int>((bounds_.max.x - bounds_.min.x) / cellSize_) + 1;
    rows_ = static_cast<int>((bounds_.max.y - bounds_.min.y) / cellSize_) + 1;

    std::size_t cells = static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_);
    std::vector<std::uint32_t> counts(cells + 1, 0);
    auto eachCell = [&](const Triangle& t, auto&& use) {
        int x0 = cellX(std::min({t.a.x, t.b.x, t.c.x}));
        int x1 = cellX(std::max({t.a.x, t.b.x, t.c.x}));
        int y0 = cellY(std::min({t.a.y, t.b.y, t.c.y}));
        int y1 = cellY(std::max({t.a.y, t.b.y, t.c.y}));
        for (int cy = y0; cy <= y1; ++cy) {
            for (int cx = x0; cx <= x1; ++cx) {
                use(static_cast<std::size_t>(cy) * columns_ + cx);
            }
        }
    };
    for (const Triangle& t : mesh.triangles) {
        eachCell(t, [&](std::size_t cell) { ++counts[cell]; });
    }
    starts_.assign(cells + 1, 0);
    for (std::size_t cell = 0; cell < cells; ++cell) {
        starts_[cell + 1] = starts_[cell] + counts[cell];
    }
    entries_.resize(starts_[cells]);
    std::vector<std::uint32_t> fill(starts_.begin(), starts_.end() - 1);
    for (std::uint32_t i = 0; i < mesh.triangles.size(); ++i) {
        const Triangle& t = mesh.triangles[i];
        Entry entry{down(std::min({t.a.x, t.b.x, t.c.x})),
                    down(std::min({t.a.y, t.b.y, t.c.y})),
                    up(std::max({t.a.x, t.b.x, t.c.x})),
                    up(std::max({t.a.y, t.b.y, t.c.y})),
                    up(std::max({t.a.z, t.b.z, t.c.z})),
                    i};
        eachCell(t, [&](std::size_t cell) { entries_[fill[cell]++] = entry; });
    }
    for (std::size_t cell = 0; cell < cells; ++cell) {
        std::sort(entries_.begin() + starts_[cell],
                  entries_.begin() + starts_[cell + 1],
                  [](const Entry& l, const Entry& r) {
                      return l.maxZ != r.maxZ ? l.maxZ > r.maxZ : l.index < r.index;
                  });
    }
}

int TriangleGrid::cellX(double x) const {
    double cell = std::floor((x - bounds_.min.x) / cellSize_);
    return static_cast<int>(std::clamp(cell, 0.0, static_cast<double>(columns_ - 1)));
}

int TriangleGrid::cellY(double y) const {
    double cell = std::floor((y - bounds_.min.y) / cellSize_);
    return static_cast<int>(std::clamp(cell, 0.0, static_cast<double>(rows_ - 1)));
}

} // namespace plexmill::kernel
