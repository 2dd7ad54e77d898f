#include "kernel/parallel.hpp"
#include "kernel/raster_rows.hpp"
#include "kernel/strategy.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace plexmill::kernel {
namespace {

struct Segment {
    std::size_t row;
    Vec3 first;
    Vec3 last;
    bool cut = false;
};

std::vector<double> levelsOf(double top, double floor, double stepdown) {
    std::vector<double> levels;
    for (int k = 1;; ++k) {
        double level = top - k * stepdown;
        if (level <= floor + 1e-9) {
            levels.push_back(floor);
            return levels;
        }
        levels.push_back(level);
    }
}

class LevelPlanner {
public:
    LevelPlanner(const Machining& m, const std::vector<RasterRow>& rows)
        : m_(m), rows_(rows), scratch_(m.cutter) {
        // A straight move longer than this goes over the top instead: beyond the next rows
        // it would cut a slot of full width through stock the rows have not opened.
        longestLink_ = 2 * m.job.cutter.diameter + m.job.stepover;
    }

    // Appends the runs of one level to the toolpath.
    void plan(double level, const std::vector<std::vector<double>>& heights, Toolpath& toolpath) {
        level_ = level;
        segments_.clear();
        rowFirst_.assign(rows_.size() + 1, 0);
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            rowFirst_[r] = segments_.size();
            const std::vector<double>& row = heights[r];
            for (std::size_t k = 0; k < row.size();) {
                if (row[k] > level + 1e-9) {
                    ++k;
                    continue;
                }
                std::size_t first = k;
                while (k < row.size() && row[k] <= level + 1e-9) {
                    ++k;
                }
                Vec3 a = rows_[r].sample(first);
                Vec3 b = rows_[r].sample(k - 1);
                a.z = b.z = level;
                segments_.push_back({r, a, b});
            }
        }
        rowFirst_[rows_.size()] = segments_.size();

        for (std::size_t next = 0; next < segments_.size(); ++next) {
            if (segments_[next].cut) {
                continue;
            }
            Pass run;
            Segment* segment = &segments_[next];
            segment->cut = true;
            run.points = {segment->first, segment->last};
            while ((segment = nearestLinkable(*segment, run.points.back()))) {
                segment->cut = true;
                bool backwards = distanceXY(run.points.back(), segment->last) <
                                 distanceXY(run.points.back(), segment->first);
                run.points.push_back(backwards ? segment->last : segment->first);
                run.points.push_back(backwards ? segment->first : segment->last);
            }
            // Points one after another on a straight line say nothing the move does not.
            run.points.erase(
                std::unique(run.points.begin(),
                            run.points.end(),
                            [](Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }),
                run.points.end());
            toolpath.passes.push_back(std::move(run));
        }
    }

    std::size_t queries() const { return queries_; }

private:
    // The closest segment in this row or the next ones that a straight move at the level
    // reaches without cutting into the model; null when there is none.
    Segment* nearestLinkable(const Segment& from, Vec3 end) {
        candidates_.clear();
        std::size_t low = from.row > 0 ? from.row - 1 : 0;
        std::size_t high = std::min(from.row + 1, rows_.size() - 1);
        for (std::size_t i = rowFirst_[low]; i < rowFirst_[high + 1]; ++i) {
            if (!segments_[i].cut) {
                double distance = std::min(distanceXY(end, segments_[i].first),
                                           distanceXY(end, segments_[i].last));
                if (distance <= longestLink_) {
                    candidates_.emplace_back(distance, i);
                }
            }
        }
        std::sort(candidates_.begin(), candidates_.end());
        for (auto [distance, i] : candidates_) {
            Segment& candidate = segments_[i];
            Vec3 entry = distanceXY(end, candidate.first) <= distanceXY(end, candidate.last)
                             ? candidate.first
                             : candidate.last;
            if (clearAtLevel(end, entry)) {
                return &candidate;
            }
        }
        return nullptr;
    }

    bool clearAtLevel(Vec3 from, Vec3 to) {
        double distance = distanceXY(from, to);
        auto steps = static_cast<std::size_t>(std::ceil(distance / m_.sampleStep - 1e-9));
        for (std::size_t i = 1; i < steps; ++i) {
            double t = static_cast<double>(i) / static_cast<double>(steps);
            ++queries_;
            if (m_.cutter.drop(from.x + t * (to.x - from.x),
                               from.y + t * (to.y - from.y),
                               scratch_) > level_ + m_.job.tolerance / 2) {
                return false;
            }
        }
        return true;
    }

    const Machining& m_;
    const std::vector<RasterRow>& rows_;
    DropCutter::Scratch scratch_;
    double longestLink_;
    double level_ = 0;
    std::vector<Segment> segments_;
    std::vector<std::size_t> rowFirst_;
    std::vector<std::pair<double, std::size_t>> candidates_;
    std::size_t queries_ = 0;
};

} // namespace

Toolpath zLevelRoughing(const Machining& m) {
    const Job& job = m.job;
    std::vector<RasterRow> rows = rasterRows(m.area, job.angle, job.stepover, m.sampleStep);
    std::vector<std::vector<double>> heights(rows.size());
    std::atomic<std::size_t> done{0};
    parallelFor(
        rows.size(),
        m.threads,
        [&] { return DropCutter::Scratch(m.cutter); },
        [&](std::size_t i, DropCutter::Scratch& scratch) {
            const RasterRow& row = rows[i];
            heights[i].resize(row.samples);
            scratch.forget();
            for (std::size_t k = 0; k < row.samples; ++k) {
                Vec3 point = row.sample(k);
                heights[i][k] = m.cutter.drop(point.x, point.y, scratch);
            }
            m.progress(static_cast<double>(++done) / static_cast<double>(rows.size()));
        });

    Toolpath toolpath;
    for (const RasterRow& row : rows) {
        toolpath.cutterPositions += row.samples;
    }
    LevelPlanner planner(m, rows);
    for (double level : levelsOf(m.stockTop, m.cutter.floor(), job.stepdown)) {
        planner.plan(level, heights, toolpath);
    }
    toolpath.cutterPositions += planner.queries();
    return toolpath;
}

} // namespace plexmill::kernel
