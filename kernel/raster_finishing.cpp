#include "kernel/parallel.hpp"
#include "kernel/raster_rows.hpp"
#include "kernel/strategy.hpp"
#include "kernel/surface_path.hpp"

#include <atomic>

namespace plexmill::kernel {

Toolpath rasterFinishing(const Machining& m) {
    const Job& job = m.job;
    std::vector<RasterRow> rows = rasterRows(m.area, job.angle, job.stepover, m.sampleStep);
    SurfacePath surface(
        m.cutter, m.sampleStep, job.tolerance, job.cutter.cornerRadius + job.allowance);
    std::vector<std::vector<Vec3>> paths(rows.size());
    std::atomic<std::size_t> queries{0};
    std::atomic<std::size_t> done{0};
    parallelFor(
        rows.size(),
        m.threads,
        [&] { return DropCutter::Scratch(m.cutter); },
        [&](std::size_t i, DropCutter::Scratch& scratch) {
            const RasterRow& row = rows[i];
            // A zigzag runs every other row backwards, so each row starts where the last ended.
            bool backwards = job.zigzag && i % 2 == 1;
            std::vector<Vec3>& path = paths[i];
            scratch.forget();
            path.reserve(row.samples);
            std::size_t count = 0;
            Vec3 previous;
            for (std::size_t k = 0; k < row.samples; ++k) {
                Vec3 point = row.sample(backwards ? row.samples - 1 - k : k);
                point.z = m.cutter.drop(point.x, point.y, scratch);
                ++count;
                if (k == 0) {
                    path.push_back(point);
                } else {
                    surface.appendInterval(path, previous, point, scratch, count);
                }
                previous = point;
            }
            reducePath(path, job.tolerance / 2);
            queries += count;
            m.progress(static_cast<double>(++done) / static_cast<double>(rows.size()));
        });

    Toolpath toolpath;
    DropCutter::Scratch scratch(m.cutter);
    std::size_t linkQueries = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!job.zigzag || toolpath.passes.empty()) {
            toolpath.passes.emplace_back();
        } else {
            // The step to the next row follows the surface like the rows do.
            std::vector<Vec3>& run = toolpath.passes.back().points;
            std::vector<Vec3> link{run.back()};
            surface.appendLine(link, run.back(), paths[i].front(), scratch, linkQueries);
            reducePath(link, job.tolerance / 2);
            run.insert(run.end(), link.begin() + 1, link.end() - 1);
        }
        std::vector<Vec3>& run = toolpath.passes.back().points;
        run.insert(run.end(), paths[i].begin(), paths[i].end());
        std::vector<Vec3>().swap(paths[i]);
    }
    toolpath.cutterPositions = queries + linkQueries;
    return toolpath;
}

} // namespace plexmill::kernel
