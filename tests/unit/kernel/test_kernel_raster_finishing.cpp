// Raster finishing over a step with a flat end mill: the path climbs the wall with a
// vertical move within half the tolerance of where the cutter's rim meets the edge, and
// every other point lies on the drop-cutter surface.
#include "kernel/drop_cutter.hpp"
#include "kernel/strategy.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace plexmill::kernel {
namespace {

TEST(RasterFinishing, ClimbsAStepStraightUp) {
    Mesh step;
    auto quad = [&](Vec3 a, Vec3 b, Vec3 c, Vec3 d) {
        step.triangles.push_back({a, b, c});
        step.triangles.push_back({a, c, d});
    };
    quad({-30, -30, 0}, {0, -30, 0}, {0, 30, 0}, {-30, 30, 0});
    quad({0, -30, 0}, {0, -30, 6}, {0, 30, 6}, {0, 30, 0});
    quad({0, -30, 6}, {30, -30, 6}, {30, 30, 6}, {0, 30, 6});
    Job job;
    job.cutter = {CutterKind::flat, 8, 0, 20};
    job.stepover = 5;
    job.tolerance = 0.01;
    job.zigzag = false;
    DropCutter cutter(step, job.cutter, 0, 0);
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        Machining machining{job, cutter, {-20, -10, 20, 10}, 0.7, 6, threads, [](double) {}};
        Toolpath toolpath = rasterFinishing(machining);
        ASSERT_EQ(toolpath.passes.size(), 5u);
        DropCutter::Scratch scratch(cutter);
        for (const Pass& run : toolpath.passes) {
            // Along X: down at 0, up the wall, along the top at 6.
            ASSERT_EQ(run.points.size(), 4u);
            const std::vector<Vec3>& p = run.points;
            EXPECT_EQ(p[0].x, -20);
            EXPECT_EQ(p[0].z, 0);
            EXPECT_EQ(p[1].z, 0);
            EXPECT_NEAR(p[1].x, -4, 0.005);
            EXPECT_EQ(p[2].x, p[1].x);
            EXPECT_EQ(p[2].y, p[1].y);
            EXPECT_EQ(p[2].z, 6);
            EXPECT_EQ(p[3].x, 20);
            EXPECT_EQ(p[3].z, 6);
            EXPECT_EQ(cutter.drop(p[1].x, p[1].y, scratch), 0);
        }
    }
}

} // namespace
} // namespace plexmill::kernel
