#include "vexlarcore/exactposition.h"

#include "vexlarcore/bsptree.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexlar {

bool intersectX(const point2d_t& p1, const point2d_t& p2, float x, float minY, float maxY, point2d_t& out) {
    if (p2.y != p1.y) {
        if (p2.x == p1.x) return false;
        const float u = (x - p1.x) / (p2.x - p1.x);
        if (u < 0.0f || u > 1.0f) return false;
        const float y = p1.y + u * (p2.y - p1.y);
        if (y < minY || y > maxY) return false;
        out = point2d_t(x, y);
        return true;
    }
    if (p1.y < minY || p1.y > maxY) return false;
    if (x < std::min(p1.x, p2.x) || x > std::max(p1.x, p2.x)) return false;
    out = point2d_t(x, p1.y);
    return true;
}

bool intersectY(const point2d_t& p1, const point2d_t& p2, float y, float minX, float maxX, point2d_t& out) {
    if (p2.x != p1.x) {
        if (p2.y == p1.y) return false;
        const float u = (y - p1.y) / (p2.y - p1.y);
        if (u < 0.0f || u > 1.0f) return false;
        const float x = p1.x + u * (p2.x - p1.x);
        if (x < minX || x > maxX) return false;
        out = point2d_t(x, y);
        return true;
    }
    if (p1.x < minX || p1.x > maxX) return false;
    if (y < std::min(p1.y, p2.y) || y > std::max(p1.y, p2.y)) return false;
    out = point2d_t(p1.x, y);
    return true;
}

namespace {

// Twice the signed area of (a, b, c).
inline float area2(const point2d_t& a, const point2d_t& b, const point2d_t& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

inline bool inSquare(float x, float y, const square_t& sq) {
    return x >= sq.minX && x <= sq.maxX && y >= sq.minY && y <= sq.maxY;
}

} // namespace

bool isInside(const point2d_t& p, const point2d_t& p1, const point2d_t& p2, const point2d_t& p3) {
    if (area2(p1, p2, p) * area2(p1, p2, p3) < 0.0f) return false;
    if (area2(p2, p3, p) * area2(p2, p3, p1) < 0.0f) return false;
    return area2(p3, p1, p) * area2(p3, p1, p2) >= 0.0f;
}

float exitDist(const point3d_t& from, const vector3d_t& dir, float maxDist, const square_t& sq) {
    float tmin = -std::numeric_limits<float>::infinity();
    float tmax = std::numeric_limits<float>::infinity();
    const float o[2] = {from.x, from.y};
    const float d[2] = {dir.x, dir.y};
    const float lo[2] = {sq.minX, sq.minY};
    const float hi[2] = {sq.maxX, sq.maxY};
    for (int i = 0; i < 2; ++i) {
        if (d[i] == 0.0f) {
            if (o[i] < lo[i] || o[i] > hi[i]) return -1.0f;
            continue;
        }
        float t0 = (lo[i] - o[i]) / d[i];
        float t1 = (hi[i] - o[i]) / d[i];
        if (t0 > t1) std::swap(t0, t1);
        if (t0 > tmin) tmin = t0;
        if (t1 < tmax) tmax = t1;
    }
    if (tmax <= maxDist && tmin <= tmax) return tmax;
    return -1.0f;
}

namespace {

// The heights (z) at which an edge from a to b, z growing or falling along
// it, leaves the square: the extreme height that edge reaches over it.
// Contributes nothing when the edge does not leave the square in [0, |b−a|].
bool edgeExitHeight(const point3d_t& a, const point3d_t& b, const square_t& sq, float& z) {
    vector3d_t dir = b - a;
    const float len = dir.length();
    if (len == 0.0f) return false;
    dir = dir / len;
    const float t = exitDist(a, dir, len, sq);
    if (t < 0.0f) return false;
    z = a.z + t * dir.z;
    return true;
}

} // namespace

int perpendicularPosition(const point3d_t& p1, const point3d_t& p2, const point3d_t& p3, const square_t& sq,
                          float pos) {
    point3d_t v[3] = {p1, p2, p3};
    std::sort(v, v + 3, [](const point3d_t& a, const point3d_t& b) { return a.z < b.z; });
    const point3d_t& lo = v[0];
    const point3d_t& mid = v[1];
    const point3d_t& hi = v[2];

    // The extremes of a planar piece over the square lie at vertices inside
    // it or where edges leave it; every edge is checked in both directions,
    // which covers faces whose highest and lowest parts over the square sit
    // on any of the three edges.
    float top = -std::numeric_limits<float>::infinity();
    float bottom = std::numeric_limits<float>::infinity();
    float z;
    if (inSquare(hi.x, hi.y, sq)) {
        top = hi.z;
    } else {
        if (edgeExitHeight(mid, hi, sq, z)) top = std::max(top, z);
        if (edgeExitHeight(lo, hi, sq, z)) top = std::max(top, z);
        if (inSquare(mid.x, mid.y, sq))
            top = std::max(top, mid.z);
        else if (edgeExitHeight(lo, mid, sq, z))
            top = std::max(top, z);
    }
    if (inSquare(lo.x, lo.y, sq)) {
        bottom = lo.z;
    } else {
        if (edgeExitHeight(mid, lo, sq, z)) bottom = std::min(bottom, z);
        if (edgeExitHeight(hi, lo, sq, z)) bottom = std::min(bottom, z);
        if (inSquare(mid.x, mid.y, sq))
            bottom = std::min(bottom, mid.z);
        else if (edgeExitHeight(hi, mid, sq, z))
            bottom = std::min(bottom, z);
    }
    if (pos > top && pos > bottom) return 1;
    if (pos < top && pos < bottom) return 2;
    return 3;
}

int expensivePosition(const triangle_t& tri, const bound_t& bound, float pos, int axis) {
    // Permute so that the split axis comes last: (z, y, x), (x, z, y), (x, y, z).
    static const int perm[3][3] = {{2, 1, 0}, {0, 2, 1}, {0, 1, 2}};
    const int* pm = perm[axis];
    auto permuted = [pm](const point3d_t& p) {
        return point3d_t(axisValue(p, pm[0]), axisValue(p, pm[1]), axisValue(p, pm[2]));
    };
    const point3d_t a = permuted(*tri.pa), b = permuted(*tri.pb), c = permuted(*tri.pc);
    const square_t sq{axisValue(bound.a, pm[0]), axisValue(bound.g, pm[0]), axisValue(bound.a, pm[1]),
                      axisValue(bound.g, pm[1])};

    const float nAxis = axisValue(tri.N, axis);
    if (std::fabs(nAxis) < 0.0001f) return perpendicularPosition(a, b, c, sq, pos);

    // The plane as a height over the square.
    const float nu = axisValue(tri.N, pm[0]), nv = axisValue(tri.N, pm[1]);
    const float ca = -nu / nAxis;
    const float cb = -nv / nAxis;
    const float cc = (tri.N * toVector(*tri.pa)) / nAxis;
    checkPosition_f f(ca, cb, cc, pos);
    intersectApply(point2d_t(a.x, a.y), point2d_t(b.x, b.y), point2d_t(c.x, c.y), sq, f);
    return f.state;
}

} // namespace vexlar
