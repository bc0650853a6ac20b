// An exact classifier of a triangle against a splitting plane inside a box,
// by clipping the triangle's plane to the box's cross-section in 2D: an
// alternative to the fast vertex classification the triangle tree's builder
// uses (the builder does not call it), with the 2D helpers it is made of.
//
// Single precision; every function only reads its arguments.
#ifndef VEXLARCORE_EXACTPOSITION_H
#define VEXLARCORE_EXACTPOSITION_H

#include "vexlarcore/bound.h"
#include "vexlarcore/triangle.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

/// A 2D rectangle for the exact classifier.
struct square_t {
    float minX, maxX, minY, maxY;
};

/// Tracks on which side of the plane height = `pos` the points of a planar
/// triangle lie, the height being ca·x + cb·y + cc over the 2D point.
/// `state`: 0 no point yet, 1 below, 2 above, 3 both or on the plane.
struct checkPosition_f {
    checkPosition_f(float a, float b, float c, float p) : ca(a), cb(b), cc(c), pos(p), state(0) {}
    /// Feeds one point; returns whether more points can change the answer.
    bool operator()(const point2d_t& p) {
        const float h = ca * p.x + cb * p.y + cc;
        if (h == pos) {
            state = 3;
        } else {
            const int s = (h < pos) ? 1 : 2;
            if (state == 0)
                state = s;
            else if (state != s)
                state = 3;
        }
        return state < 3;
    }
    float ca, cb, cc, pos;
    int state;
};

/// Where the segment p1 p2 meets the vertical line at `x`, accepted only
/// with its y in [minY, maxY]; a horizontal segment meets it at (x, p1.y)
/// when `x` lies between its ends. `out` receives the crossing.
bool intersectX(const point2d_t& p1, const point2d_t& p2, float x, float minY, float maxY, point2d_t& out);
/// The same for the horizontal line at `y` with the range [minX, maxX].
bool intersectY(const point2d_t& p1, const point2d_t& p2, float y, float minX, float maxX, point2d_t& out);
/// True when `p` lies in the triangle p1 p2 p3 or on its border.
bool isInside(const point2d_t& p, const point2d_t& p1, const point2d_t& p2, const point2d_t& p3);
/// Exit parameter of the ray from + t·dir (x and y only) from the square:
/// the exit when the ray crosses the square and leaves it at t ≤ maxDist,
/// −1 otherwise. A zero direction component requires `from` within the
/// square's range on that axis.
float exitDist(const point3d_t& from, const vector3d_t& dir, float maxDist, const square_t& sq);

/// Feeds `f` with the crossings of the segment p1 p2 with the lines
/// x = minX, x = maxX, y = minY, y = maxY in this order, at most two; false
/// as soon as `f` asks to stop.
template <class F>
bool applyVectorIntersect(const point2d_t& p1, const point2d_t& p2, const square_t& sq, F& f) {
    point2d_t c;
    int found = 0;
    for (int line = 0; line < 4 && found < 2; ++line) {
        bool hit;
        switch (line) {
        case 0:
            hit = intersectX(p1, p2, sq.minX, sq.minY, sq.maxY, c);
            break;
        case 1:
            hit = intersectX(p1, p2, sq.maxX, sq.minY, sq.maxY, c);
            break;
        case 2:
            hit = intersectY(p1, p2, sq.minY, sq.minX, sq.maxX, c);
            break;
        default:
            hit = intersectY(p1, p2, sq.maxY, sq.minX, sq.maxX, c);
            break;
        }
        if (!hit) continue;
        if (!f(c)) return false;
        ++found;
    }
    return true;
}

/// Feeds `f` with the points that bound the part of the triangle pa pb pc
/// inside the square: edge crossings of the border, vertices inside the
/// square, then square corners inside the triangle. Stops as soon as `f`
/// asks to.
template <class F>
void intersectApply(const point2d_t& pa, const point2d_t& pb, const point2d_t& pc, const square_t& sq, F& f) {
    if (!applyVectorIntersect(pa, pb, sq, f)) return;
    if (!applyVectorIntersect(pb, pc, sq, f)) return;
    if (!applyVectorIntersect(pc, pa, sq, f)) return;
    const point2d_t* verts[3] = {&pa, &pb, &pc};
    for (const point2d_t* v : verts) {
        if (v->x >= sq.minX && v->x <= sq.maxX && v->y >= sq.minY && v->y <= sq.maxY && !f(*v)) return;
    }
    const point2d_t corners[4] = {point2d_t(sq.minX, sq.minY), point2d_t(sq.maxX, sq.minY),
                                  point2d_t(sq.maxX, sq.maxY), point2d_t(sq.minX, sq.maxY)};
    for (const point2d_t& c : corners) {
        if (isInside(c, pa, pb, pc) && !f(c)) return;
    }
}

/// Exact classification with the codes of `cheapPosition`, by clipping the
/// triangle's plane to the box's cross-section; 0 when no part of the
/// triangle lies over the cross-section. Not used by the builder.
int expensivePosition(const triangle_t& tri, const bound_t& bound, float pos, int axis);

/// The exact classification for a triangle nearly parallel to the split axis.
/// The points are given with the split axis as their z coordinate; x and y
/// are measured in the square. Returns 1 when `pos` lies above every height
/// the triangle reaches over the square, 2 when below, 3 otherwise (also when
/// no part of the triangle lies over the square).
int perpendicularPosition(const point3d_t& p1, const point3d_t& p2, const point3d_t& p3, const square_t& sq,
                          float pos);

} // namespace vexlar

#endif
