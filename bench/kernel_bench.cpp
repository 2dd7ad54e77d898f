// The reference kernel's drop-cutter speed, with its baselines measured in the same run:
//   1. cutter positions per second of raster finishing over a generated relief of 512k
//      triangles at 0.1 mm stepover and sample step, on one thread and on every processor;
//   2. the triangle grid against trying every triangle, on a small relief (the brute force
//      would take hours on the large one).
// Run by hand: kernel_bench [THREADS]   (default: every processor)
#include "kernel/drop_cutter.hpp"
#include "kernel/job.hpp"
#include "kernel/strategy.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

using namespace plexmill::kernel;
using Clock = std::chrono::steady_clock;

// A wavy relief over [0, size]², `cells` squares a side, two triangles a square.
Mesh relief(double size, int cells) {
    auto height = [](double x, double y) {
        return 6 + 3 * std::sin(x / 7) * std::cos(y / 5) + 0.8 * std::sin((x + 2 * y) / 1.9);
    };
    double step = size / cells;
    Mesh mesh;
    mesh.triangles.reserve(2 * static_cast<std::size_t>(cells) * cells);
    for (int i = 0; i < cells; ++i) {
        for (int j = 0; j < cells; ++j) {
            double x0 = i * step, x1 = x0 + step, y0 = j * step, y1 = y0 + step;
            Vec3 a{x0, y0, height(x0, y0)}, b{x1, y0, height(x1, y0)};
            Vec3 c{x1, y1, height(x1, y1)}, d{x0, y1, height(x0, y1)};
            mesh.triangles.push_back({a, b, c});
            mesh.triangles.push_back({a, c, d});
        }
    }
    return mesh;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor seconds of the whole process, every thread: on a shared machine the wall clock
// says how much of the machine we got, this says how much work a position takes.
double processorSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Raster finishing over the whole relief; returns cutter positions per second.
double finishingRate(const Mesh& mesh, const Job& job, unsigned threads) {
    DropCutter cutter(mesh, job.cutter, 0, 0);
    Bounds box = mesh.bounds();
    Machining machining{job,
                        cutter,
                        {box.min.x, box.min.y, box.max.x, box.max.y},
                        0.1,
                        box.max.z,
                        threads,
                        [](double) {}};
    auto start = Clock::now();
    double processor = processorSeconds();
    Toolpath toolpath = rasterFinishing(machining);
    double elapsed = seconds(start);
    processor = processorSeconds() - processor;
    std::printf("  %u thread%s: %zu cutter positions in %.2f s (%.2f processor seconds, %.1f "
                "us each)\n",
                threads,
                threads == 1 ? "" : "s",
                toolpath.cutterPositions,
                elapsed,
                processor,
                1e6 * processor / static_cast<double>(toolpath.cutterPositions));
    return static_cast<double>(toolpath.cutterPositions) / elapsed;
}

} // namespace

int main(int argc, char** argv) {
    unsigned all = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1]))
                            : std::max(1u, std::thread::hardware_concurrency());
    Job job;
    job.cutter = {CutterKind::ball, 6, 3, 50};
    job.stepover = 0.1;
    job.tolerance = 0.01;

    Mesh large = relief(80, 506);
    std::printf("raster finishing, ball 6 mm, stepover and sample step 0.1 mm, %zu triangles\n",
                large.triangles.size());
    double one = finishingRate(large, job, 1);
    double many = finishingRate(large, job, all);
    std::printf("  cutter positions per second: 1 thread %.0f, %u threads %.0f, ratio %.2f\n",
                one,
                all,
                many,
                many / one);

    Mesh small = relief(60, 100);
    DropCutter cutter(small, job.cutter, 0, 0);
    DropCutter::Scratch scratch(cutter);
    const int side = 40;
    double checksum = 0;
    auto start = Clock::now();
    double processor = processorSeconds();
    for (int i = 0; i < side; ++i) {
        for (int j = 0; j < side; ++j) {
            checksum += cutter.dropOverAll(i * 60.0 / side, j * 60.0 / side);
        }
    }
    double brute = seconds(start);
    double bruteProcessor = processorSeconds() - processor;
    int rounds = 0;
    start = Clock::now();
    processor = processorSeconds();
    do {
        for (int i = 0; i < side; ++i) {
            for (int j = 0; j < side; ++j) {
                checksum -= cutter.drop(i * 60.0 / side, j * 60.0 / side, scratch);
            }
        }
        ++rounds;
    } while (seconds(start) < 0.5);
    double grid = seconds(start) / rounds;
    double gridProcessor = (processorSeconds() - processor) / rounds;
    std::printf("grid against every triangle, %zu triangles, %d points: brute force %.4f s "
                "(%.4f processor), grid %.6f s (%.6f processor), ratio %.0f wall, %.0f "
                "processor (check %g)\n",
                small.triangles.size(),
                side * side,
                brute,
                bruteProcessor,
                grid,
                gridProcessor,
                brute / grid,
                bruteProcessor / gridProcessor,
                checksum);
    return 0;
}
