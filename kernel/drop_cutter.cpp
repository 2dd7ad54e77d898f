#include "kernel/drop_cutter.hpp"

#include <algorithm>
#include <cmath>

namespace plexmill::kernel {
namespace {

// The cutter grown by the allowance: the corner radius takes it, the flat part stays.
std::variant<BallCutter, FlatCutter, BullNoseCutter> grownShape(const CutterSpec& cutter,
                                                                double allowance) {
    double radius = cutter.diameter / 2;
    double corner = cutter.kind == CutterKind::ball   ? radius
                    : cutter.kind == CutterKind::flat ? 0
                                                      : cutter.cornerRadius;
    double flat = radius - corner;
    corner += allowance;
    if (flat <= 0) {
        return BallCutter(corner);
    }
    if (corner <= 0) {
        return FlatCutter(flat);
    }
    return BullNoseCutter(flat, corner);
}

} // namespace

DropCutter::DropCutter(const Mesh& mesh, const CutterSpec& cutter, double allowance, double floor)
    : grid_(mesh, cutter.diameter / 2 + allowance), shape_(grownShape(cutter, allowance)),
      allowance_(allowance), floor_(floor) {}

double DropCutter::reach() const {
    return std::visit([](const auto& shape) { return shape.reach(); }, shape_);
}

template <typename Cutter>
double DropCutter::contact(const Cutter& cutter, const Facet& f, double x, double y, double best) {
    // Into the cutter's frame: the tool axis at the origin.
    Facet local = f;
    for (Vec3* p : {&local.a, &local.b, &local.c}) {
        p->x -= x;
        p->y -= y;
    }
    local.offset -= f.normal.x * x + f.normal.y * y;
    bool inside = false;
    double onPlane = cutter.facet(local, inside);
    if (onPlane != noContact) {
        if (onPlane <= best) {
            return best; // the cutter already stands above the facet's whole plane
        }
        if (inside) {
            return onPlane; // resting inside the facet, it stands above its every point
        }
    }
    const Vec3* corners[] = {&local.a, &local.b, &local.c};
    for (int i = 0; i < 3; ++i) {
        const Vec3& p = *corners[i];
        const Vec3& q = *corners[(i + 1) % 3];
        if (std::max(p.z, q.z) > best) {
            best = std::max(best, cutter.edge(p, q));
        }
        if (p.z > best) {
            best = std::max(best, cutter.vertex(p));
        }
    }
    return best;
}

double DropCutter::drop(double x, double y, Scratch& scratch) const {
    if (++scratch.query_ == 0) {
        std::fill(scratch.seen_.begin(), scratch.seen_.end(), 0);
        scratch.query_ = 1;
    }
    std::uint32_t query = scratch.query_;
    std::uint32_t* seen = scratch.seen_.data();
    const Facet* facets = grid_.facets().data();
    double best = floor_ - allowance_;
    std::visit(
        [&](const auto& cutter) {
            double r = cutter.reach();
            const Bounds& box = grid_.bounds();
            if (x + r < box.min.x || x - r > box.max.x || y + r < box.min.y || y - r > box.max.y) {
                return;
            }
            std::uint32_t holder = scratch.hint_;
            auto tryTriangle = [&](std::uint32_t index) {
                seen[index] = query;
                double height = contact(cutter, facets[index], x, y, best);
                if (height > best) {
                    best = height;
                    holder = index;
                }
            };
            if (holder != Scratch::noHint) {
                tryTriangle(holder);
            }
            grid_.forCells(
                x, y, r, [&](const TriangleGrid::Entry* entry, std::size_t count, double cell) {
                    // The cell's highest triangle comes first. No point of the cell is nearer
                    // the axis than the cell is, and the cutter's surface rises with the
                    // distance from the axis: the same bound as for one triangle below.
                    if (cell > r * r || entry->maxZ <= best ||
                        cell >= cutter.squaredRadiusForRise(entry->maxZ - best)) {
                        return;
                    }
                    for (const TriangleGrid::Entry* end = entry + count; entry != end; ++entry) {
                        if (entry->maxZ <= best) {
                            break; // the rest of the cell lies lower still
                        }
                        // The same bound for the triangle's own bounds.
                        double dx = std::max({entry->minX - x, x - entry->maxX, 0.0});
                        double dy = std::max({entry->minY - y, y - entry->maxY, 0.0});
                        double squared = dx * dx + dy * dy;
                        if (squared > r * r || seen[entry->index] == query ||
                            squared >= cutter.squaredRadiusForRise(entry->maxZ - best)) {
                            continue;
                        }
                        tryTriangle(entry->index);
                    }
                });
            scratch.hint_ = holder;
        },
        shape_);
    return best + allowance_;
}

double DropCutter::dropOverAll(double x, double y) const {
    double best = floor_ - allowance_;
    std::visit(
        [&](const auto& cutter) {
            for (const Facet& facet : grid_.facets()) {
                best = contact(cutter, facet, x, y, best);
            }
        },
        shape_);
    return best + allowance_;
}

} // namespace plexmill::kernel
