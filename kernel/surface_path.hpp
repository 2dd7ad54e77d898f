// Turning drop-cutter samples into moves that stay on the surface within the tolerance.
//
// Between two samples the machine moves in a straight line. Where the cutter rests on a
// rounded part of itself, the heights it takes curve no tighter than its corner, so a chord
// no longer than sqrt(4 · corner · tolerance) sinks at most half the tolerance below them;
// on steep ground the chord between samples grows longer than the sample step, and such an
// interval is split. A flat end mill (or a corner too small for the sample step) meets walls
// as cliffs in its height: an interval whose ends differ by more than half the tolerance is
// split. Splitting stops once the midpoint lies on the chord within half the tolerance; a
// cliff narrower than half the tolerance becomes a vertical move. Point reduction then drops
// every point that the straight line past it misses by less than the other half.
#pragma once

#include "kernel/drop_cutter.hpp"
#include "kernel/vec3.hpp"

#include <vector>

namespace plexmill::kernel {

class SurfacePath {
public:
    SurfacePath(const DropCutter& cutter, double sampleStep, double tolerance, double corner);

    // Appends to `path` the points of the surface from `from` to `to` (both x, y and z given,
    // `to` included, `from` not), splitting the interval where the chord would cut in.
    void appendInterval(std::vector<Vec3>& path,
                        Vec3 from,
                        Vec3 to,
                        DropCutter::Scratch& scratch,
                        std::size_t& queries) const;

    // The surface along the straight line from `from` to `to` (z of both already known),
    // sampled, refined and appended without `from`.
    void appendLine(std::vector<Vec3>& path,
                    Vec3 from,
                    Vec3 to,
                    DropCutter::Scratch& scratch,
                    std::size_t& queries) const;

    double tolerance() const { return tolerance_; }

private:
    void split(std::vector<Vec3>& path,
               Vec3 from,
               Vec3 to,
               DropCutter::Scratch& scratch,
               std::size_t& queries) const;

    const DropCutter& cutter_;
    double sampleStep_;
    double tolerance_;
    double longestChord_; // 0 for a cutter too sharp to bound its chords this way
};

// Douglas–Peucker in 3D: keeps the ends and every point the reduced line would miss by more
// than `tolerance`.
void reducePath(std::vector<Vec3>& path, double tolerance);

} // namespace plexmill::kernel
