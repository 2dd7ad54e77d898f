#include "kernel/cutter.hpp"

#include <algorithm>
#include <cmath>

namespace plexmill::kernel {

std::string cutterName(CutterKind kind) {
    switch (kind) {
    case CutterKind::ball:
        return "ball";
    case CutterKind::flat:
        return "flat";
    case CutterKind::bullNose:
        return "bullnose";
    }
    return "?";
}

Facet makeFacet(Vec3 a, Vec3 b, Vec3 c) {
    Facet facet{a, b, c, {}, 0};
    Vec3 normal = cross(b - a, c - a);
    double size = length(normal);
    if (size > 0) {
        normal = (normal.z < 0 ? -1.0 : 1.0) / size * normal;
    }
    facet.normal = normal;
    facet.offset = dot(normal, a);
    facet.horizontal = planeLength(normal.x, normal.y);
    return facet;
}

bool insideXY(const Facet& f, double x, double y) {
    auto side = [&](Vec3 p, Vec3 q) { return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x); };
    double ab = side(f.a, f.b);
    double bc = side(f.b, f.c);
    double ca = side(f.c, f.a);
    return (ab >= 0 && bc >= 0 && ca >= 0) || (ab <= 0 && bc <= 0 && ca <= 0);
}

double facetContact(const Facet& f, double flat, double corner, bool& inside) {
    const Vec3& n = f.normal;
    inside = false;
    // Steep facets are reached first through their edges; their projection is a sliver on
    // which the inside test cannot be trusted.
    if (n.z < 1e-9) {
        return noContact;
    }
    double horizontal = f.horizontal;
    // The contact point: from the axis, out along the facet's downhill direction to the
    // corner's centre ring, then down the facet's normal by the corner radius.
    double contactX = -corner * n.x;
    double contactY = -corner * n.y;
    if (horizontal > 0) {
        contactX -= flat * n.x / horizontal;
        contactY -= flat * n.y / horizontal;
    }
    inside = insideXY(f, contactX, contactY);
    double contactZ = (f.offset - n.x * contactX - n.y * contactY) / n.z;
    return contactZ - corner + corner * n.z;
}

bool makeEdgeFrame(Vec3 p1, Vec3 p2, EdgeFrame& frame) {
    double dx = p2.x - p1.x;
    double dy = p2.y - p1.y;
    double length = planeLength(dx, dy);
    if (length < 1e-12) {
        return false;
    }
    double ex = dx / length;
    double ey = dy / length;
    frame.length = length;
    frame.foot = -(ex * p1.x + ey * p1.y);
    frame.distance = std::abs(ex * -p1.y - ey * -p1.x);
    frame.startZ = p1.z;
    frame.slope = (p2.z - p1.z) / length;
    return true;
}

double BallCutter::vertex(Vec3 p) const {
    double squared = p.x * p.x + p.y * p.y;
    if (squared > radius_ * radius_) {
        return noContact;
    }
    return p.z - radius_ + std::sqrt(radius_ * radius_ - squared);
}

double BallCutter::edge(Vec3 p1, Vec3 p2) const {
    EdgeFrame e;
    if (!makeEdgeFrame(p1, p2, e) || e.distance >= radius_) {
        return noContact;
    }
    // The ball cut by the vertical plane through the edge is a disc of this radius; the
    // disc rests on the edge's line where the line's normal points at its centre.
    double disc = std::sqrt(radius_ * radius_ - e.distance * e.distance);
    double secant = std::sqrt(1 + e.slope * e.slope);
    double contact = e.foot + disc * e.slope / secant;
    if (contact < 0 || contact > e.length) {
        return noContact;
    }
    return e.zAt(e.foot) + disc * secant - radius_;
}

double FlatCutter::vertex(Vec3 p) const {
    return p.x * p.x + p.y * p.y <= radius_ * radius_ ? p.z : noContact;
}

double FlatCutter::edge(Vec3 p1, Vec3 p2) const {
    EdgeFrame e;
    if (!makeEdgeFrame(p1, p2, e) || e.distance >= radius_) {
        return noContact;
    }
    // The flat bottom crosses the edge's vertical plane in a chord; the edge touches it at
    // whichever end of the chord lies higher on the edge.
    double half = std::sqrt(radius_ * radius_ - e.distance * e.distance);
    double best = noContact;
    for (double end : {e.foot - half, e.foot + half}) {
        if (end >= 0 && end <= e.length) {
            best = std::max(best, e.zAt(end));
        }
    }
    return best;
}

double BullNoseCutter::height(double radius) const {
    if (radius <= flat_) {
        return 0;
    }
    double out = std::min(radius - flat_, corner_);
    return corner_ - std::sqrt(corner_ * corner_ - out * out);
}

double BullNoseCutter::slope(double radius) const {
    if (radius <= flat_) {
        return 0;
    }
    double out = radius - flat_;
    double rest = corner_ * corner_ - out * out;
    return rest > 0 ? out / std::sqrt(rest) : std::numeric_limits<double>::infinity();
}

double BullNoseCutter::vertex(Vec3 p) const {
    double radius = planeLength(p.x, p.y);
    return radius <= reach() ? p.z - height(radius) : noContact;
}

double BullNoseCutter::edge(Vec3 p1, Vec3 p2) const {
    EdgeFrame e;
    double reach = this->reach();
    if (!makeEdgeFrame(p1, p2, e) || e.distance >= reach) {
        return noContact;
    }
    // The tip height that a point of the edge allows, z(u) - height(radius(u)), is concave
    // in u: the point with the zero derivative is the contact. Bisection on the derivative
    // converges to the last bits of a double.
    double half = std::sqrt(reach * reach - e.distance * e.distance);
    double low = std::max(0.0, e.foot - half);
    double high = std::min(e.length, e.foot + half);
    if (low > high) {
        return noContact;
    }
    auto radiusAt = [&](double u) { return planeLength(e.distance, u - e.foot); };
    auto rising = [&](double u) {
        double radius = radiusAt(u);
        double outward = radius > 0 ? (u - e.foot) / radius : 0;
        return e.slope - slope(radius) * outward > 0;
    };
    if (!rising(low)) {
        high = low;
    } else if (rising(high)) {
        low = high;
    } else {
        for (int i = 0; i < 64 && high - low > 1e-13; ++i) {
            double middle = 0.5 * (low + high);
            (rising(middle) ? low : high) = middle;
        }
    }
    double u = 0.5 * (low + high);
    return e.zAt(u) - height(std::min(radiusAt(u), reach));
}

} // namespace plexmill::kernel
