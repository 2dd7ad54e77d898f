#include "kernel/surface_path.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace plexmill::kernel {

SurfacePath::SurfacePath(const DropCutter& cutter,
                         double sampleStep,
                         double tolerance,
                         double corner)
    : cutter_(cutter), sampleStep_(sampleStep), tolerance_(tolerance),
      longestChord_(corner > 0 ? std::sqrt(4 * corner * tolerance) : 0) {
    if (longestChord_ < sampleStep) {
        longestChord_ = 0;
    }
}

void SurfacePath::appendInterval(std::vector<Vec3>& path,
                                 Vec3 from,
                                 Vec3 to,
                                 DropCutter::Scratch& scratch,
                                 std::size_t& queries) const {
    split(path, from, to, scratch, queries);
    path.push_back(to);
}

void SurfacePath::split(std::vector<Vec3>& path,
                        Vec3 from,
                        Vec3 to,
                        DropCutter::Scratch& scratch,
                        std::size_t& queries) const {
    double half = tolerance_ / 2;
    bool suspect =
        longestChord_ > 0 ? length(to - from) > longestChord_ : std::abs(to.z - from.z) > half;
    if (!suspect) {
        return;
    }
    Vec3 middle{0.5 * (from.x + to.x), 0.5 * (from.y + to.y), 0};
    middle.z = cutter_.drop(middle.x, middle.y, scratch);
    ++queries;
    if (std::abs(middle.z - 0.5 * (from.z + to.z)) <= half) {
        return;
    }
    if (distanceXY(from, to) <= half) {
        // A cliff: climb straight up, or cross at the top and go straight down.
        path.push_back(to.z > from.z ? Vec3{from.x, from.y, to.z} : Vec3{to.x, to.y, from.z});
        return;
    }
    split(path, from, middle, scratch, queries);
    path.push_back(middle);
    split(path, middle, to, scratch, queries);
}

void SurfacePath::appendLine(std::vector<Vec3>& path,
                             Vec3 from,
                             Vec3 to,
                             DropCutter::Scratch& scratch,
                             std::size_t& queries) const {
    double distance = distanceXY(from, to);
    auto steps = static_cast<std::size_t>(std::ceil(distance / sampleStep_ - 1e-9));
    Vec3 previous = from;
    for (std::size_t i = 1; i < steps; ++i) {
        double t = static_cast<double>(i) / static_cast<double>(steps);
        Vec3 point{from.x + t * (to.x - from.x), from.y + t * (to.y - from.y), 0};
        point.z = cutter_.drop(point.x, point.y, scratch);
        ++queries;
        appendInterval(path, previous, point, scratch, queries);
        previous = point;
    }
    appendInterval(path, previous, to, scratch, queries);
}

void reducePath(std::vector<Vec3>& path, double tolerance) {
    if (path.size() < 3) {
        return;
    }
    std::vector<char> keep(path.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans{{0, path.size() - 1}};
    double limit = tolerance * tolerance;
    while (!spans.empty()) {
        auto [first, last] = spans.back();
        spans.pop_back();
        Vec3 a = path[first];
        Vec3 chord = path[last] - a;
        double chordLength = dot(chord, chord);
        double worst = -1;
        std::size_t worstIndex = first;
        for (std::size_t i = first + 1; i < last; ++i) {
            Vec3 offset = path[i] - a;
            double t = chordLength > 0 ? std::clamp(dot(offset, chord) / chordLength, 0.0, 1.0) : 0;
            Vec3 miss = offset - t * chord;
            double squared = dot(miss, miss);
            if (squared > worst) {
                worst = squared;
                worstIndex = i;
            }
        }
        if (worst > limit) {
            keep[worstIndex] = 1;
            if (worstIndex - first > 1) {
                spans.emplace_back(first, worstIndex);
            }
            if (last - worstIndex > 1) {
                spans.emplace_back(worstIndex, last);
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (keep[i]) {
            path[kept++] = path[i];
        }
    }
    path.resize(kept);
}

} // namespace plexmill::kernel
