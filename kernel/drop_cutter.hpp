// Drop-cutter: the lowest height at which the cutter's tip can stand over a point without
// cutting into the model. Each contact of each triangle near the point is tried (facet,
// edges, vertices); the grid hands over only the triangles within the cutter's reach.
#pragma once

#include "kernel/cutter.hpp"
#include "kernel/mesh.hpp"
#include "kernel/triangle_grid.hpp"

#include <cstdint>
#include <variant>
#include <vector>

namespace plexmill::kernel {

class DropCutter {
public:
    // What one thread needs for its queries, made once so that queries never allocate.
    class Scratch {
    public:
        explicit Scratch(const DropCutter& cutter) : seen_(cutter.grid_.facets().size(), 0) {}

        // Queries along a row start from the triangle that held the cutter last time: tried
        // first, it lifts the height so high that most others are skipped unread. The answer
        // never depends on it, but which triangles are tried does, so a row starts afresh.
        void forget() { hint_ = noHint; }

    private:
        friend class DropCutter;
        static constexpr std::uint32_t noHint = UINT32_MAX;
        std::vector<std::uint32_t> seen_;
        std::uint32_t query_ = 0;
        std::uint32_t hint_ = noHint;
    };

    // Outside the model the cutter drops to `floor`. The allowance is the stock left on
    // the model: the cutter grown by it (whose tip lies that much lower) rests on the model.
    DropCutter(const Mesh& mesh, const CutterSpec& cutter, double allowance, double floor);

    double drop(double x, double y, Scratch& scratch) const;
    // The same answer from every triangle of the model, without the grid.
    double dropOverAll(double x, double y) const;

    double floor() const { return floor_; }
    double reach() const;
    const Bounds& modelBounds() const { return grid_.bounds(); }

private:
    using Shape = std::variant<BallCutter, FlatCutter, BullNoseCutter>;

    // The best tip height (in the grown cutter's terms) that this triangle allows.
    template <typename Cutter>
    static double
    contact(const Cutter& cutter, const Facet& facet, double x, double y, double best);

    TriangleGrid grid_;
    Shape shape_;
    double allowance_;
    double floor_;
};

} // namespace plexmill::kernel
