// Turning drop-cutter samples into moves that stay on the surface within the tolerance.
//
// Between two samples the machine moves in a straight line. For a rounded cutter whose
// corner is large against the sample step, that chord never sinks below the surface by more
// than step² / (8 · corner), which the sample step keeps within half the tolerance. A flat
// end mill (or a small corner) meets walls as cliffs in its height: there the interval is
// split until the chord follows the surface, and a cliff narrower than half the tolerance
// becomes a vertical move. Point reduction then drops every point that the straight line
// past it misses by less than the other half of the tolerance.
#pragma once

#include "kernel/drop_cutter.hpp"
#include "kernel/vec3.hpp"

#include <vector>

namespace plexmill::kernel {

class SurfacePath {
public:
    SurfacePath(const DropCutter& cutter, double sampleStep, double tolerance, double corner);

    // Whether chords between samples need checking (the cutter has a sharp corner).
    bool refines() const { return refines_; }

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
    bool refines_;
};

// Douglas–Peucker in 3D: keeps the ends and every point the reduced line would miss by more
// than `tolerance`.
void reducePath(std::vector<Vec3>& path, double tolerance);

} // namespace plexmill::kernel
