// The job file: `key = value` lines (the format is described in kernel/README.md).
#pragma once

#include "kernel/cutter.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plexmill::kernel {

enum class Strategy { raster, zlevel };

// A rectangle of the XY plane.
struct Area {
    double minX = 0;
    double minY = 0;
    double maxX = 0;
    double maxY = 0;
};

struct Job {
    std::string name;
    std::string model;
    CutterSpec cutter;
    Strategy strategy = Strategy::raster;
    double stepover = 0;
    double angle = 0; // degrees from the X axis, raster rows
    bool zigzag = true;
    double stepdown = 0; // z-level only
    std::optional<Area> area;
    double margin = 0;
    double allowance = 0;
    double tolerance = 0.01;
    std::optional<double> sampleStep;
    double feed = 0;
    double plungeFeed = 0;
    double spindle = 0;
    std::optional<double> safeHeight;
    std::optional<double> clearanceHeight;
};

// Throws JobError naming the line and the key at fault.
Job parseJob(std::string_view text);

std::string strategyName(Strategy strategy);

} // namespace plexmill::kernel
