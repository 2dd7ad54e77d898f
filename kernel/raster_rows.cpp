#include "kernel/raster_rows.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace plexmill::kernel {
namespace {

struct Frame {
    double alongX;
    double alongY;
    double first; // offset of the first row across the rows
    double last;
    std::size_t rows;
};

Frame frameOf(const Area& area, double angle, double stepover) {
    double radians = std::fmod(angle, 180.0) * std::numbers::pi / 180;
    Frame frame{std::cos(radians), std::sin(radians), 0, 0, 1};
    // Snap the axis directions so rows along X or Y carry no rounding noise.
    for (double* c : {&frame.alongX, &frame.alongY}) {
        if (std::abs(*c) < 1e-15) {
            *c = 0;
        } else if (std::abs(std::abs(*c) - 1) < 1e-15) {
            *c = std::copysign(1.0, *c);
        }
    }
    double low = INFINITY;
    double high = -INFINITY;
    for (double x : {area.minX, area.maxX}) {
        for (double y : {area.minY, area.maxY}) {
            double across = -frame.alongY * x + frame.alongX * y;
            low = std::min(low, across);
            high = std::max(high, across);
        }
    }
    frame.first = low;
    frame.last = high;
    frame.rows = static_cast<std::size_t>(std::ceil((high - low) / stepover - 1e-9)) + 1;
    return frame;
}

} // namespace

Vec3 RasterRow::sample(std::size_t i) const {
    if (samples <= 1) {
        return start;
    }
    if (i + 1 == samples) {
        return end;
    }
    double t = static_cast<double>(i) / static_cast<double>(samples - 1);
    return {start.x + t * (end.x - start.x), start.y + t * (end.y - start.y), 0};
}

double rasterSampleCount(const Area& area, double angle, double stepover, double sampleStep) {
    Frame frame = frameOf(area, angle, stepover);
    double longest = std::hypot(area.maxX - area.minX, area.maxY - area.minY);
    return static_cast<double>(frame.rows) * (longest / sampleStep + 2);
}

std::vector<RasterRow>
rasterRows(const Area& area, double angle, double stepover, double sampleStep) {
    Frame frame = frameOf(area, angle, stepover);
    std::vector<RasterRow> rows;
    rows.reserve(frame.rows);
    for (std::size_t k = 0; k < frame.rows; ++k) {
        double across = frame.rows == 1
                            ? 0.5 * (frame.first + frame.last)
                            : frame.first + (frame.last - frame.first) * static_cast<double>(k) /
                                                static_cast<double>(frame.rows - 1);
        // The row's line: origin + t * along; clip t to the rectangle.
        Vec3 origin{-frame.alongY * across, frame.alongX * across, 0};
        double low = -INFINITY;
        double high = INFINITY;
        auto clip = [&](double start, double direction, double min, double max) {
            if (direction == 0) {
                if (start < min - 1e-9 || start > max + 1e-9) {
                    low = INFINITY;
                }
                return;
            }
            double t0 = (min - start) / direction;
            double t1 = (max - start) / direction;
            low = std::max(low, std::min(t0, t1));
            high = std::min(high, std::max(t0, t1));
        };
        clip(origin.x, frame.alongX, area.minX, area.maxX);
        clip(origin.y, frame.alongY, area.minY, area.maxY);
        if (low > high) {
            continue; // a corner the rounding put just outside
        }
        RasterRow row;
        row.start = {origin.x + low * frame.alongX, origin.y + low * frame.alongY, 0};
        row.end = {origin.x + high * frame.alongX, origin.y + high * frame.alongY, 0};
        row.samples = static_cast<std::size_t>(std::ceil((high - low) / sampleStep - 1e-9)) + 1;
        rows.push_back(row);
    }
    return rows;
}

} // namespace plexmill::kernel
