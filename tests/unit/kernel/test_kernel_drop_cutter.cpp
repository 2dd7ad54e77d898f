// Drop-cutter heights against closed formulas: every cutter position within 1 µm of the
// exact answer for the true surface, on meshes fine enough that their own facets stay well
// inside that.
#include "kernel/drop_cutter.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace plexmill::kernel {
namespace {

constexpr double micrometre = 1e-3;

void quad(Mesh& mesh, Vec3 a, Vec3 b, Vec3 c, Vec3 d) {
    mesh.triangles.push_back({a, b, c});
    mesh.triangles.push_back({a, c, d});
}

// A sphere of `radius` around the origin, `segments` around and half as many from pole to pole.
Mesh sphere(double radius, int segments) {
    Mesh mesh;
    auto point = [&](int around, int up) {
        double longitude = 2 * std::numbers::pi * around / segments;
        double latitude = std::numbers::pi * up / (segments / 2) - std::numbers::pi / 2;
        return Vec3{radius * std::cos(latitude) * std::cos(longitude),
                    radius * std::cos(latitude) * std::sin(longitude),
                    radius * std::sin(latitude)};
    };
    for (int up = 0; up < segments / 2; ++up) {
        for (int around = 0; around < segments; ++around) {
            quad(mesh,
                 point(around, up),
                 point(around + 1, up),
                 point(around + 1, up + 1),
                 point(around, up + 1));
        }
    }
    return mesh;
}

CutterSpec cutter(CutterKind kind, double diameter, double corner) {
    return {kind, diameter, corner, 50};
}

TEST(DropCutter, BallOverSphereFollowsTheOffsetSphere) {
    const double R = 5;
    const double r = 3;
    DropCutter drop(sphere(R, 512), cutter(CutterKind::ball, 2 * r, r), 0, -100);
    DropCutter::Scratch scratch(drop);
    int checked = 0;
    for (double x = -7; x <= 7; x += 0.7) {
        for (double y = -7; y <= 7; y += 0.7) {
            if (std::hypot(x, y) > 0.9 * (R + r)) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            double exact = std::sqrt((R + r) * (R + r) - x * x - y * y) - r;
            EXPECT_NEAR(drop.drop(x, y, scratch), exact, micrometre);
            ++checked;
        }
    }
    EXPECT_GT(checked, 250);
}

TEST(DropCutter, FlatOverAPlaneAndAStep) {
    // A slope z = 0.3 x - 0.2 y + 1: the flat bottom rests on its rim, uphill.
    Mesh slope;
    auto height = [](double x, double y) { return 0.3 * x - 0.2 * y + 1; };
    quad(slope,
         {-50, -50, height(-50, -50)},
         {50, -50, height(50, -50)},
         {50, 50, height(50, 50)},
         {-50, 50, height(-50, 50)});
    const double R = 4;
    DropCutter onSlope(slope, cutter(CutterKind::flat, 2 * R, 0), 0, -100);
    DropCutter::Scratch scratch(onSlope);
    for (double x : {-20.0, -3.3, 0.0, 12.5}) {
        for (double y : {-15.0, 0.0, 7.25}) {
            SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
            EXPECT_NEAR(
                onSlope.drop(x, y, scratch), height(x, y) + R * std::hypot(0.3, 0.2), micrometre);
        }
    }

    // A step 6 high at x = 0: the cutter stands on the top as soon as its rim reaches the edge.
    Mesh step;
    quad(step, {-30, -30, 0}, {0, -30, 0}, {0, 30, 0}, {-30, 30, 0});
    quad(step, {0, -30, 0}, {0, -30, 6}, {0, 30, 6}, {0, 30, 0});
    quad(step, {0, -30, 6}, {30, -30, 6}, {30, 30, 6}, {0, 30, 6});
    DropCutter onStep(step, cutter(CutterKind::flat, 2 * R, 0), 0, -100);
    DropCutter::Scratch stepScratch(onStep);
    struct Case {
        double x;
        double z;
    };
    for (Case c : {Case{-10, 0}, Case{-4.0005, 0}, Case{-3.9995, 6}, Case{-1, 6}, Case{5, 6}}) {
        SCOPED_TRACE(c.x);
        EXPECT_NEAR(onStep.drop(c.x, 1.5, stepScratch), c.z, micrometre);
    }
}

TEST(DropCutter, BullNoseOverACylinderAndAllowance) {
    // A cylinder of radius 10 lying along Y. In the plane across the cylinder the bull-nose's
    // flat bottom rests on the crest; beyond it the corner's circle touches the cylinder.
    const double Rc = 10;
    const int segments = 2048;
    Mesh cylinder;
    for (int i = 0; i < segments; ++i) {
        double a0 = std::numbers::pi * i / segments;
        double a1 = std::numbers::pi * (i + 1) / segments;
        quad(cylinder,
             {Rc * std::cos(a0), -40, Rc * std::sin(a0)},
             {Rc * std::cos(a1), -40, Rc * std::sin(a1)},
             {Rc * std::cos(a1), 40, Rc * std::sin(a1)},
             {Rc * std::cos(a0), 40, Rc * std::sin(a0)});
    }
    const double flat = 3;
    const double corner = 2;
    for (double allowance : {0.0, 0.5}) {
        SCOPED_TRACE(testing::Message() << "allowance " << allowance);
        DropCutter drop(
            cylinder, cutter(CutterKind::bullNose, 2 * (flat + corner), corner), allowance, -100);
        DropCutter::Scratch scratch(drop);
        double grown = Rc + allowance;
        for (double x : {0.0, 1.5, -2.9, 4.0, -6.5, 9.0, 13.0}) {
            SCOPED_TRACE(x);
            double exact = std::abs(x) <= flat
                               ? grown
                               : std::sqrt((grown + corner) * (grown + corner) -
                                           (std::abs(x) - flat) * (std::abs(x) - flat)) -
                                     corner;
            EXPECT_NEAR(drop.drop(x, 3.7, scratch), exact, micrometre);
        }
    }
}

TEST(DropCutter, GridFindsWhatEveryTriangleGives) {
    // The same heights with and without the grid, for every cutter shape, over a coarse
    // sphere (sharp edges and vertices decide) and off its side where only the floor is.
    Mesh mesh = sphere(8, 24);
    for (CutterSpec tool : {cutter(CutterKind::ball, 5, 2.5),
                            cutter(CutterKind::flat, 5, 0),
                            cutter(CutterKind::bullNose, 5, 1)}) {
        SCOPED_TRACE(cutterName(tool.kind));
        DropCutter drop(mesh, tool, 0.2, -9);
        DropCutter::Scratch scratch(drop);
        for (double x = -13; x <= 13; x += 0.77) {
            for (double y = -13; y <= 13; y += 1.3) {
                // A triangle the grid missed would differ by far more than rounding.
                ASSERT_NEAR(drop.drop(x, y, scratch), drop.dropOverAll(x, y), 1e-12)
                    << x << " " << y;
            }
        }
        EXPECT_EQ(drop.drop(40, 40, scratch), -9);
    }
}

} // namespace
} // namespace plexmill::kernel
