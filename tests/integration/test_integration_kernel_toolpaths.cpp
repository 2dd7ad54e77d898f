// The kernel judged by programs that are not ours: openscad makes the models, admesh vouches
// for them, LinuxCNC's rs274 interpreter reads the G-code. Every move rs274 reports is a move
// we wrote, and no move brings the ball into the model by more than the tolerance: the
// distance from the ball's centre to every triangle, brute force, with no grid.
#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace tnw::test {
namespace {

struct Point {
    double x;
    double y;
    double z;
};

Point operator-(Point a, Point b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Point operator+(Point a, Point b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Point operator*(double s, Point a) {
    return {s * a.x, s * a.y, s * a.z};
}
double dot(Point a, Point b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

using Triangle = std::array<Point, 3>;

// The closest point of a triangle to p (the region test of Ericson's Real-Time Collision
// Detection, 5.1.5).
Point closestOnTriangle(Point p, const Triangle& t) {
    Point a = t[0], b = t[1], c = t[2];
    Point ab = b - a, ac = c - a, ap = p - a;
    double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return a;
    Point bp = p - b;
    double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return b;
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return a + (d1 / (d1 - d3)) * ab;
    Point cp = p - c;
    double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return c;
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return a + (d2 / (d2 - d6)) * ac;
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        return b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b);
    }
    double denom = 1 / (va + vb + vc);
    return a + (vb * denom) * ab + (vc * denom) * ac;
}

// openscad writes ASCII STL: the vertices are all we need.
std::vector<Triangle> readAsciiStl(const std::filesystem::path& path) {
    std::istringstream in(readText(path));
    std::vector<Triangle> triangles;
    std::vector<Point> corners;
    for (std::string word; in >> word;) {
        if (word == "vertex") {
            Point p;
            in >> p.x >> p.y >> p.z;
            corners.push_back(p);
            if (corners.size() == 3) {
                triangles.push_back({corners[0], corners[1], corners[2]});
                corners.clear();
            }
        }
    }
    return triangles;
}

struct Move {
    bool rapid;
    Point end;
};

// Our own reading of the G-code: modal G0/G1 and coordinates.
std::vector<Move> readGcode(const std::string& text) {
    std::vector<Move> moves;
    std::istringstream lines(text);
    Point at{0, 0, 0};
    bool rapid = true;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '(' || line[0] == '%') {
            continue;
        }
        std::istringstream words(line);
        bool moved = false;
        for (std::string word; words >> word;) {
            double value = std::stod(word.substr(1));
            switch (word[0]) {
            case 'G':
                if (value == 0 || value == 1) {
                    rapid = value == 0;
                }
                break;
            case 'X':
                at.x = value, moved = true;
                break;
            case 'Y':
                at.y = value, moved = true;
                break;
            case 'Z':
                at.z = value, moved = true;
                break;
            default:
                break;
            }
        }
        if (moved) {
            moves.push_back({rapid, at});
        }
    }
    return moves;
}

// rs274's canonical calls: STRAIGHT_TRAVERSE(x, y, z, a, b, c) and STRAIGHT_FEED(...).
std::vector<Move> readCanon(const std::string& text) {
    std::vector<Move> moves;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        for (auto [name, rapid] :
             {std::pair{"STRAIGHT_TRAVERSE(", true}, std::pair{"STRAIGHT_FEED(", false}}) {
            std::size_t at = line.find(name);
            if (at != std::string::npos) {
                Move move{rapid, {}};
                std::sscanf(line.c_str() + at + std::strlen(name),
                            "%lf, %lf, %lf",
                            &move.end.x,
                            &move.end.y,
                            &move.end.z);
                moves.push_back(move);
            }
        }
    }
    return moves;
}

// How far the ball's centre comes to the model along the moves (from the second move on:
// the first leaves wherever the machine stood), sampled every 0.02 mm.
double closestApproach(const std::vector<Move>& moves,
                       const std::vector<Triangle>& model,
                       double radius,
                       bool feedsOnly) {
    double closest = INFINITY;
    for (std::size_t i = 1; i < moves.size(); ++i) {
        if (feedsOnly == moves[i].rapid) {
            continue;
        }
        Point from = moves[i - 1].end;
        Point to = moves[i].end;
        double length = std::sqrt(dot(to - from, to - from));
        int steps = std::max(1, static_cast<int>(std::ceil(length / 0.02)));
        for (int s = 0; s <= steps; ++s) {
            Point tip = from + (static_cast<double>(s) / steps) * (to - from);
            Point centre{tip.x, tip.y, tip.z + radius};
            for (const Triangle& t : model) {
                auto [lowX, highX] = std::minmax({t[0].x, t[1].x, t[2].x});
                auto [lowY, highY] = std::minmax({t[0].y, t[1].y, t[2].y});
                auto [lowZ, highZ] = std::minmax({t[0].z, t[1].z, t[2].z});
                if (lowX > centre.x + radius || highX < centre.x - radius ||
                    lowY > centre.y + radius || highY < centre.y - radius ||
                    lowZ > centre.z + radius || highZ < centre.z - radius) {
                    continue;
                }
                Point miss = centre - closestOnTriangle(centre, t);
                closest = std::min(closest, std::sqrt(dot(miss, miss)));
            }
        }
    }
    return closest;
}

bool installed(const char* program) {
    return run({"sh", "-c", std::string("command -v ") + program}).exitCode == 0;
}

struct Model {
    const char* name;
    const char* scad;
    const char* job; // without the model line
    double radius;
    double allowance;
    double tolerance;
};

TEST(KernelToolpaths, IndependentProgramsAgreeWithTheGcode) {
    for (const char* program : {"openscad", "admesh", "rs274"}) {
        if (!installed(program)) {
            GTEST_SKIP() << program << " is not installed (scripts/lib/common.sh installs it)";
        }
    }
    const Model models[] = {
        {"hemisphere",
         "$fn = 24; intersection() { sphere(r = 10); translate([-20, -20, 0]) cube([40, 40, 20]); "
         "}",
         "cutter = ball\ndiameter = 6\nlength = 30\nstepover = 1.5\nmargin = 2\n",
         3,
         0,
         0.01},
        {"pocket",
         "difference() { cube([30, 20, 10]); translate([8, 5, 4]) cube([14, 10, 10]); }",
         "cutter = ball\ndiameter = 4\nlength = 20\nstrategy = zlevel\nstepdown = 2.5\n"
         "stepover = 1.5\nstock_allowance = 0.3\nangle = 90\ntolerance = 0.02\nmargin = 3\n",
         2,
         0.3,
         0.02},
        {"boss",
         "$fn = 24; cube([30, 30, 3]); translate([15, 15, 3]) { cylinder(h = 6, r = 8); "
         "translate([0, 0, 6]) cylinder(h = 2, r1 = 8, r2 = 6); }",
         "cutter = ball\ndiameter = 5\nlength = 25\nstepover = 1.2\nangle = 35\n"
         "pattern = oneway\n",
         2.5,
         0,
         0.01},
    };
    TempFolder folder;
    for (const Model& model : models) {
        SCOPED_TRACE(model.name);
        std::filesystem::path scad = folder / (std::string(model.name) + ".scad");
        std::filesystem::path stl = folder / (std::string(model.name) + ".stl");
        writeFile(scad, model.scad);
        auto made = run({"openscad", "-o", stl.string(), scad.string()});
        ASSERT_EQ(made.exitCode, 0) << made.errors;
        auto checked = run({"admesh", stl.string()});
        ASSERT_EQ(checked.exitCode, 0) << checked.errors;
        EXPECT_NE(checked.output.find("All facets connected."), std::string::npos)
            << checked.output;

        std::filesystem::path job = folder / (std::string(model.name) + ".job");
        writeFile(job,
                  "model = " + std::string(model.name) + ".stl\n" + model.job +
                      "feed = 1000\nplunge_feed = 250\nspindle = 10000\n");
        auto computed = run({std::string(MILLCORE_KERNEL_DIR) + "/millcore.exe",
                             "-p",
                             "--proc",
                             "-k",
                             std::string(MILLCORE_KERNEL_DIR) + "/millcore.dll",
                             job.string()});
        ASSERT_EQ(computed.exitCode, 0) << computed.output << computed.errors;
        ASSERT_TRUE(computed.output.starts_with("%\n(Plexmill millcore: ")) << computed.output;
        std::filesystem::path ngc = folder / (std::string(model.name) + ".ngc");
        writeFile(ngc, computed.output);

        auto interpreted = run({"rs274", "-g", ngc.string()});
        ASSERT_EQ(interpreted.exitCode, 0) << interpreted.errors;
        EXPECT_NE(interpreted.output.find("USE_LENGTH_UNITS(CANON_UNITS_MM)"), std::string::npos);
        EXPECT_NE(interpreted.output.find("SET_SPINDLE_SPEED(0, 10000.0000)"), std::string::npos);
        EXPECT_NE(interpreted.output.find("START_SPINDLE_CLOCKWISE"), std::string::npos);
        EXPECT_NE(interpreted.output.find("STOP_SPINDLE_TURNING"), std::string::npos);
        std::vector<Move> ours = readGcode(computed.output);
        std::vector<Move> theirs = readCanon(interpreted.output);
        ASSERT_EQ(ours.size(), theirs.size());
        ASSERT_GT(ours.size(), 50u);
        for (std::size_t i = 0; i < ours.size(); ++i) {
            ASSERT_EQ(ours[i].rapid, theirs[i].rapid) << "move " << i;
            ASSERT_NEAR(ours[i].end.x, theirs[i].end.x, 1e-9) << "move " << i;
            ASSERT_NEAR(ours[i].end.y, theirs[i].end.y, 1e-9) << "move " << i;
            ASSERT_NEAR(ours[i].end.z, theirs[i].end.z, 1e-9) << "move " << i;
        }

        std::vector<Triangle> triangles = readAsciiStl(stl);
        ASSERT_GT(triangles.size(), 10u);
        // Four decimals of output move a point by up to 0.00009 mm.
        double rounding = 1e-4;
        EXPECT_GE(closestApproach(theirs, triangles, model.radius, true),
                  model.radius + model.allowance - model.tolerance - rounding);
        // Rapid moves keep clear of the model and of the stock left on it.
        EXPECT_GE(closestApproach(theirs, triangles, model.radius, false),
                  model.radius + model.allowance - rounding);
    }
}

} // namespace
} // namespace tnw::test
