#include "kernel/engine.hpp"

#include "kernel/drop_cutter.hpp"
#include "kernel/error.hpp"
#include "kernel/gcode_writer.hpp"
#include "kernel/job.hpp"
#include "kernel/raster_rows.hpp"
#include "kernel/stl_reader.hpp"
#include "kernel/strategy.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <new>

namespace plexmill::kernel {
namespace {

// Beyond this many cutter positions a job would take the machine's memory; the user is
// asked for a coarser job instead.
constexpr double mostCutterPositions = 40e6;

std::string readJob(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw JobError("cannot read the job file '" + path.string() + "'");
    }
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), {});
    if (!file && !file.eof()) {
        throw JobError("cannot read the job file '" + path.string() + "'");
    }
    return text;
}

std::string range(const char* axis, double low, double high) {
    return std::string(axis) + " " + formatNumber(low) + " .. " + formatNumber(high);
}

// The default sample step keeps the chord between samples within half the tolerance of a
// rounded corner, and no coarser than a quarter of the radius or the stepover.
double sampleStepOf(const Job& job) {
    if (job.sampleStep) {
        return *job.sampleStep;
    }
    double step = std::min(job.stepover, job.cutter.diameter / 8);
    double corner = job.cutter.cornerRadius + job.allowance;
    if (corner > 0) {
        step = std::min(step, std::sqrt(4 * corner * job.tolerance));
    }
    return std::max(step, job.tolerance);
}

class Progress {
public:
    explicit Progress(std::FILE* log) : log_(log) {}

    void operator()(double share) {
        int tenth = static_cast<int>(share * 10);
        std::lock_guard lock(lock_);
        if (tenth > reported_) {
            reported_ = tenth;
            std::fprintf(log_, "millcore: %d%% of the rows computed\n", tenth * 10);
            std::fflush(log_);
        }
    }

private:
    std::FILE* log_;
    std::mutex lock_;
    int reported_ = 0;
};

} // namespace

std::string computeJob(const std::filesystem::path& jobPath, const RunOptions& options) {
    auto started = std::chrono::steady_clock::now();
    Job job = parseJob(readJob(jobPath));
    std::filesystem::path modelPath = jobPath.parent_path() / job.model;
    std::error_code error;
    if (!std::filesystem::is_regular_file(modelPath, error)) {
        throw JobError("model '" + job.model + "' was not sent with the job");
    }
    Mesh mesh = readStl(modelPath, job.model);
    Bounds model = mesh.bounds();
    std::fprintf(options.log,
                 "millcore: model %s: %zu triangles, %s, %s, %s\n",
                 job.model.c_str(),
                 mesh.triangles.size(),
                 range("X", model.min.x, model.max.x).c_str(),
                 range("Y", model.min.y, model.max.y).c_str(),
                 range("Z", model.min.z, model.max.z).c_str());

    double top = model.max.z + job.allowance;
    double clearance =
        job.clearanceHeight.value_or(std::min(top + 5, job.safeHeight.value_or(top + 5)));
    double safe = job.safeHeight.value_or(std::max(clearance, top + 10));
    if (clearance <= top) {
        throw JobError("job: clearance_height " + formatNumber(clearance) +
                       " must lie above the top of the model with its allowance, " +
                       formatNumber(top));
    }
    if (safe < clearance) {
        throw JobError("job: safe_height " + formatNumber(safe) +
                       " must not lie below clearance_height " + formatNumber(clearance));
    }
    Area area = job.area.value_or(Area{model.min.x - job.margin,
                                       model.min.y - job.margin,
                                       model.max.x + job.margin,
                                       model.max.y + job.margin});
    double sampleStep = sampleStepOf(job);
    double positions = rasterSampleCount(area, job.angle, job.stepover, sampleStep);
    if (positions > mostCutterPositions) {
        throw JobError("job: the area needs about " + std::to_string(std::llround(positions)) +
                       " cutter positions at this stepover and sample step; the kernel computes "
                       "at most " +
                       std::to_string(std::llround(mostCutterPositions)) +
                       ": raise stepover or sample_step, or make the area smaller");
    }

    DropCutter cutter(mesh, job.cutter, job.allowance, model.min.z);
    Progress progress(options.log);
    Machining machining{
        job, cutter, area, sampleStep, top, std::max(options.threads, 1u), [&](double share) {
            progress(share);
        }};
    Toolpath toolpath =
        job.strategy == Strategy::raster ? rasterFinishing(machining) : zLevelRoughing(machining);

    double lowest = std::numeric_limits<double>::infinity();
    for (const Pass& run : toolpath.passes) {
        for (const Vec3& p : run.points) {
            lowest = std::min(lowest, p.z);
        }
    }
    if (model.max.z - lowest > job.cutter.length) {
        throw JobError("job: the cutter's length " + formatNumber(job.cutter.length) +
                       " does not reach the toolpath's lowest point, " +
                       formatNumber(model.max.z - lowest) + " below the top of the model");
    }
    auto computed = std::chrono::steady_clock::now();

    const CutterSpec& c = job.cutter;
    GcodeSettings settings;
    settings.spindle = job.spindle;
    settings.feed = job.feed;
    settings.plungeFeed = job.plungeFeed;
    settings.clearanceHeight = clearance;
    settings.safeHeight = safe;
    settings.header = {
        "Plexmill millcore: " +
            std::string(job.strategy == Strategy::raster ? "raster finishing" : "z-level roughing"),
        "Job: " + (job.name.empty() ? jobPath.filename().string() : job.name),
        "Model: " + job.model + ", " + std::to_string(mesh.triangles.size()) + " triangles, " +
            range("X", model.min.x, model.max.x) + ", " + range("Y", model.min.y, model.max.y) +
            ", " + range("Z", model.min.z, model.max.z),
        "Cutter: " + cutterName(c.kind) + ", diameter " + formatNumber(c.diameter) +
            ", corner radius " + formatNumber(c.cornerRadius) + ", length " +
            formatNumber(c.length),
        "Strategy: " + strategyName(job.strategy) + ", stepover " + formatNumber(job.stepover) +
            (job.strategy == Strategy::zlevel ? ", stepdown " + formatNumber(job.stepdown) : "") +
            ", angle " + formatNumber(job.angle) + ", " + (job.zigzag ? "zigzag" : "oneway") +
            ", sample step " + formatNumber(sampleStep),
        "Area: " + range("X", area.minX, area.maxX) + ", " + range("Y", area.minY, area.maxY) +
            "; stock allowance " + formatNumber(job.allowance) + ", tolerance " +
            formatNumber(job.tolerance),
        "Feeds: cut " + formatNumber(job.feed) + ", plunge " + formatNumber(job.plungeFeed) +
            " mm/min; spindle " + formatNumber(job.spindle) + " rpm",
        "Heights: clearance " + formatNumber(clearance) + ", safe " + formatNumber(safe),
    };
    GcodeSummary summary;
    std::string gcode = writeGcode(toolpath, settings, summary);
    double seconds = std::chrono::duration<double>(computed - started).count();
    std::fprintf(options.log,
                 "millcore: %zu cutter positions in %.3f s with %u threads (%.0f per second); "
                 "%zu passes, %zu moves, cut %.1f mm, rapid %.1f mm\n",
                 toolpath.cutterPositions,
                 seconds,
                 machining.threads,
                 seconds > 0 ? static_cast<double>(toolpath.cutterPositions) / seconds : 0.0,
                 toolpath.passes.size(),
                 summary.moves,
                 summary.cutLength,
                 summary.rapidLength);
    return gcode;
}

int runJob(const std::filesystem::path& jobPath, const RunOptions& options, std::FILE* out) {
    std::string failure;
    int code = 1;
    try {
        std::string gcode = computeJob(jobPath, options);
        if (std::fwrite(gcode.data(), 1, gcode.size(), out) != gcode.size() ||
            std::fflush(out) != 0) {
            std::fprintf(options.log, "millcore: error: cannot write the result\n");
            return 2;
        }
        return 0;
    } catch (const JobError& bad) {
        failure = bad.what();
    } catch (const std::bad_alloc&) {
        failure = "the job needs more memory than the machine has";
        code = 2;
    } catch (const std::exception& other) {
        failure = std::string("the kernel failed: ") + other.what();
        code = 2;
    }
    std::fprintf(options.log, "millcore: error: %s\n", failure.c_str());
    std::fprintf(out, "ERROR: %s\n", failure.c_str());
    std::fflush(out);
    return code;
}

} // namespace plexmill::kernel
