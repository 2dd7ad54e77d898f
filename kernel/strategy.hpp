// The two machining strategies. Both sample the same raster rows; they differ in what they
// make of the heights.
#pragma once

#include "kernel/drop_cutter.hpp"
#include "kernel/job.hpp"
#include "kernel/toolpath.hpp"

#include <functional>

namespace plexmill::kernel {

struct Machining {
    const Job& job;
    const DropCutter& cutter;
    Area area;
    double sampleStep;
    double stockTop;
    unsigned threads;
    // Called from any thread with the share of the rows done, 0 to 1.
    std::function<void(double)> progress;
};

// Finishing: the cutter follows the surface along every row; in a zigzag the rows are joined
// along the surface too, so the whole area is one cut.
Toolpath rasterFinishing(const Machining& machining);

// Roughing: the rows at falling levels `stepdown` apart, cut where the model lies below the
// level; lifts out only where no straight move at the level reaches the next cut.
Toolpath zLevelRoughing(const Machining& machining);

} // namespace plexmill::kernel
