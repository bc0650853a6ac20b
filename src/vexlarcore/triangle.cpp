#include "vexlarcore/triangle.h"

#include <cmath>

namespace vexlar {

namespace {

vector3d_t planeNormal(const point3d_t& a, const point3d_t& b, const point3d_t& c) {
    // normalize() leaves a zero cross product (degenerate face) as it is.
    vector3d_t n = (b - a) ^ (c - a);
    n.normalize();
    return n;
}

point3d_t weighted(const point3d_t& a, const point3d_t& b, const point3d_t& c, float wa, float wb, float wc) {
    return point3d_t(wa * a.x + wb * b.x + wc * c.x, wa * a.y + wb * b.y + wc * c.y,
                     wa * a.z + wb * b.z + wc * c.z);
}

} // namespace

triangle_t::triangle_t()
    : pa(nullptr), pb(nullptr), pc(nullptr), na(nullptr), nb(nullptr), nc(nullptr), uv(nullptr),
      vcol(nullptr), hasUV(false), hasVertexColor(false), shader(nullptr), N(0, 0, 0) {}

triangle_t::triangle_t(point3d_t* a, point3d_t* b, point3d_t* c)
    : pa(a), pb(b), pc(c), na(nullptr), nb(nullptr), nc(nullptr), uv(nullptr), vcol(nullptr), hasUV(false),
      hasVertexColor(false), shader(nullptr), N(planeNormal(*a, *b, *c)) {}

void triangle_t::setVertices(point3d_t* a, point3d_t* b, point3d_t* c) {
    pa = a;
    pb = b;
    pc = c;
    na = nb = nc = nullptr;
    recNormal();
}

void triangle_t::recNormal() {
    N = planeNormal(*pa, *pb, *pc);
}

bool getInterpolation(const point3d_t& p1, const point3d_t& p2, const point3d_t& p3, const point3d_t& p,
                      float& wa, float& wb, float& wc) {
    const vector3d_t da = p1 - p;
    const vector3d_t db = p2 - p;
    const vector3d_t dc = p3 - p;
    // Twice the signed areas of the sub-triangles opposite each corner; one
    // component per coordinate plane.
    const vector3d_t xa = db ^ dc;
    const vector3d_t xb = dc ^ da;
    const vector3d_t xc = da ^ db;

    const float axy = std::fabs(xa.z), bxy = std::fabs(xb.z), cxy = std::fabs(xc.z);
    const float ayz = std::fabs(xa.x), byz = std::fabs(xb.x), cyz = std::fabs(xc.x);
    const float axz = std::fabs(xa.y), bxz = std::fabs(xb.y), cxz = std::fabs(xc.y);
    const float sxy = axy + bxy + cxy;
    const float syz = ayz + byz + cyz;
    const float sxz = axz + bxz + cxz;

    // The plane with the largest projection keeps the most precision; ties
    // fall through to the later choice.
    float aa, ab, ac, s;
    if (sxy > syz && sxy > sxz) {
        aa = axy, ab = bxy, ac = cxy, s = sxy;
    } else if (syz > sxy && syz > sxz) {
        aa = ayz, ab = byz, ac = cyz, s = syz;
    } else {
        aa = axz, ab = bxz, ac = cxz, s = sxz;
    }
    if (s == 0.0f) return false;
    const float inv = 1.0f / s;
    wa = aa * inv;
    wb = ab * inv;
    wc = ac * inv;
    return true;
}

surfacePoint_t triangle_t::getSurface(const point3d_t& p, float depth, bool orco) const {
    const bool flat = (na == nullptr);
    float wa = 0, wb = 0, wc = 0;
    if ((!hasUV && !hasVertexColor && flat && !orco) || !getInterpolation(*pa, *pb, *pc, p, wa, wb, wc)) {
        return surfacePoint_t(nullptr, p, p, N, N, -1.0f, -1.0f, color_t(0, 0, 0), depth, shader, false,
                              false, false);
    }

    // The orco point of a vertex is stored right after its position.
    const point3d_t orcoPoint = orco ? weighted(*(pa + 1), *(pb + 1), *(pc + 1), wa, wb, wc) : p;

    vector3d_t normal = N;
    if (!flat) {
        normal = wa * (*na) + wb * (*nb) + wc * (*nc);
        normal.normalize();
    }

    float u = 0, v = 0;
    if (hasUV) {
        u = wa * uv[0] + wb * uv[2] + wc * uv[4];
        v = wa * uv[1] + wb * uv[3] + wc * uv[5];
    }

    color_t vertexColor(0, 0, 0);
    if (hasVertexColor) {
        vertexColor.set(wa * vcol[0] + wb * vcol[3] + wc * vcol[6],
                        wa * vcol[1] + wb * vcol[4] + wc * vcol[7],
                        wa * vcol[2] + wb * vcol[5] + wc * vcol[8]);
    }

    surfacePoint_t sp(nullptr, p, orcoPoint, normal, N, u, v, vertexColor, depth, shader, hasUV,
                      hasVertexColor, orco);

    if (hasUV) {
        // Rates of u and v along two orthonormal in-plane directions: the
        // first edge and its perpendicular towards pc. They are then
        // expressed along the record's tangents.
        const vector3d_t e1 = *pb - *pa;
        const vector3d_t e2 = *pc - *pa;
        const float l1 = e1.length();
        if (l1 == 0.0f) return sp;
        const vector3d_t e1n = e1 / l1;
        const float du1 = (uv[2] - uv[0]) / l1;
        const float dv1 = (uv[3] - uv[1]) / l1;
        const float proj = e2 * e1n;
        const vector3d_t p2 = e2 - proj * e1n;
        const float l2 = p2.length();
        // pc on the line of the first edge: no second direction.
        if (l2 == 0.0f) return sp;
        const vector3d_t e2n = p2 / l2;
        const float du2 = ((uv[4] - uv[0]) - proj * du1) / l2;
        const float dv2 = ((uv[5] - uv[1]) - proj * dv1) / l2;

        const float ue1 = sp.tangentU * e1n, ue2 = sp.tangentU * e2n;
        const float ve1 = sp.tangentV * e1n, ve2 = sp.tangentV * e2n;
        sp.dudNU = ue1 * du1 + ue2 * du2;
        sp.dudNV = ve1 * du1 + ve2 * du2;
        sp.dvdNU = ue1 * dv1 + ue2 * dv2;
        sp.dvdNV = ve1 * dv1 + ve2 * dv2;
    }
    return sp;
}

} // namespace vexlar
