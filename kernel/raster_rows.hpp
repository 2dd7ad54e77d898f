// Parallel rows across a rectangle at any angle: the sampling pattern of both strategies.
#pragma once

#include "kernel/job.hpp"
#include "kernel/vec3.hpp"

#include <cstddef>
#include <vector>

namespace plexmill::kernel {

struct RasterRow {
    Vec3 start; // z unused
    Vec3 end;
    std::size_t samples = 1; // evenly spaced from start to end, both included

    Vec3 sample(std::size_t i) const;
};

// Rows `stepover` apart at most (spread evenly so the first and last lie on the area's
// edges), along the direction `angle` degrees from X, sampled at most `sampleStep` apart.
std::vector<RasterRow>
rasterRows(const Area& area, double angle, double stepover, double sampleStep);

// The number of samples of all rows together, computed before the rows are made so a job
// that would exhaust the machine is refused first.
double rasterSampleCount(const Area& area, double angle, double stepover, double sampleStep);

} // namespace plexmill::kernel
