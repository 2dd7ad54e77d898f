// RS-274 G-code from a toolpath: millimetres, absolute coordinates, rapid moves (G0) only
// above the model, feed moves (G1) with their feed rate, the spindle started before the first
// move and stopped after the last. Words are modal: a coordinate or feed that does not change
// is not repeated. Numbers carry four decimals at most, so the same toolpath always gives
// the same bytes.
#pragma once

#include "kernel/toolpath.hpp"

#include <string>
#include <vector>

namespace plexmill::kernel {

struct GcodeSettings {
    std::vector<std::string> header; // comment lines, without parentheses
    double spindle = 0;
    double feed = 0;
    double plungeFeed = 0;
    double clearanceHeight = 0;
    double safeHeight = 0;
};

// How far above a run's first point the rapid descent stops; the rest is fed.
constexpr double plungeGap = 1.0;

struct GcodeSummary {
    std::size_t moves = 0;
    double cutLength = 0;
    double rapidLength = 0;
};

std::string
writeGcode(const Toolpath& toolpath, const GcodeSettings& settings, GcodeSummary& summary);

// A text made safe for a comment: parentheses and bytes outside printable ASCII replaced.
std::string commentText(const std::string& text);

// Four decimals at most, trailing zeros dropped, never "-0".
std::string formatNumber(double value);

} // namespace plexmill::kernel
