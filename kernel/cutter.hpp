// The three cutter shapes and their exact drop-cutter contacts. Every shape is a torus swept
// around the tool axis: a flat bottom of radius `flat` and a rounded corner of radius
// `corner`, so a ball is (0, r), a flat end mill (R, 0) and a bull-nose (R - c, c). A stock
// allowance grows the corner by the allowance, which turns a flat end mill into a
// bull-nose and puts the tip that much lower; the caller raises the result by the same amount.
//
// Each contact returns the height of the cutter's tip when it rests on the feature, or
// `noContact` when the feature is out of reach. Candidates arrive in the cutter's frame: the
// tool axis stands at x = y = 0.
#pragma once

#include "kernel/vec3.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace plexmill::kernel {

constexpr double noContact = -std::numeric_limits<double>::infinity();
constexpr double noRise = std::numeric_limits<double>::infinity();

enum class CutterKind { ball, flat, bullNose };

struct CutterSpec {
    CutterKind kind = CutterKind::ball;
    double diameter = 0;
    double cornerRadius = 0; // the ball's radius for a ball, 0 for a flat end mill
    double length = 0;       // how deep the flutes reach below the holder
};

std::string cutterName(CutterKind kind);

// A triangle made ready for the facet contact: the unit normal facing up (triangles are
// two-sided for a cutter coming down) and the plane's offset.
struct Facet {
    Vec3 a;
    Vec3 b;
    Vec3 c;
    Vec3 normal;
    double offset = 0;     // dot(normal, a)
    double horizontal = 0; // length of the normal's XY part
};

Facet makeFacet(Vec3 a, Vec3 b, Vec3 c);

// Whether (x, y) lies in the triangle's projection (boundary included).
bool insideXY(const Facet& facet, double x, double y);

// The height at which any torus rests on the facet's plane (the shapes differ only in their
// two radii), and whether it touches the plane inside the facet; `noContact` for a facet too
// steep to be touched first. No point of the facet lets the cutter stand higher.
double facetContact(const Facet& facet, double flat, double corner, bool& inside);

// The edge's geometry seen from the tool axis: `along` runs from p1 (0) to p2 (`length`), the
// axis stands at `foot` along it and `distance` beside it; z rises by `slope` per mm.
struct EdgeFrame {
    double length = 0;
    double foot = 0;
    double distance = 0;
    double startZ = 0;
    double slope = 0;
    double zAt(double along) const { return startZ + slope * along; }
};

// False for an edge that stands vertical (its top vertex is its highest contact).
bool makeEdgeFrame(Vec3 p1, Vec3 p2, EdgeFrame& frame);

class BallCutter {
public:
    explicit BallCutter(double radius) : radius_(radius) {}
    double reach() const { return radius_; }
    // The squared distance from the axis at which the surface has risen by `rise` (> 0),
    // infinite when it never does: what lets a query skip a triangle without a root.
    double squaredRadiusForRise(double rise) const {
        return rise < radius_ ? rise * (2 * radius_ - rise) : noRise;
    }
    double vertex(Vec3 p) const;
    double edge(Vec3 p1, Vec3 p2) const;
    double facet(const Facet& f, bool& inside) const { return facetContact(f, 0, radius_, inside); }

private:
    double radius_;
};

class FlatCutter {
public:
    explicit FlatCutter(double radius) : radius_(radius) {}
    double reach() const { return radius_; }
    double squaredRadiusForRise(double) const { return noRise; }
    double vertex(Vec3 p) const;
    double edge(Vec3 p1, Vec3 p2) const;
    double facet(const Facet& f, bool& inside) const { return facetContact(f, radius_, 0, inside); }

private:
    double radius_;
};

class BullNoseCutter {
public:
    BullNoseCutter(double flat, double corner) : flat_(flat), corner_(corner) {}
    double reach() const { return flat_ + corner_; }
    double height(double radius) const;
    double squaredRadiusForRise(double rise) const {
        if (rise >= corner_) {
            return noRise;
        }
        double out = flat_ + std::sqrt(rise * (2 * corner_ - rise));
        return out * out;
    }
    double vertex(Vec3 p) const;
    double edge(Vec3 p1, Vec3 p2) const;
    double facet(const Facet& f, bool& inside) const {
        return facetContact(f, flat_, corner_, inside);
    }

private:
    // The slope of the cutter's surface at `radius` from the axis.
    double slope(double radius) const;
    double flat_;
    double corner_;
};

} // namespace plexmill::kernel
