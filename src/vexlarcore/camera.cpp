#include "vexlarcore/camera.h"

#include "vexlarcore/sampling.h"

#include <cmath>

namespace vexlar {

namespace {

/// Divides v by its length taken in double precision; a vector whose squared
/// length is 0 in single precision is returned unchanged.
vector3d_t unitOf(const vector3d_t& v) {
    float sq = v.x * v.x + v.y * v.y + v.z * v.z;
    if (sq == 0.0f) return v;
    double len = std::sqrt(static_cast<double>(sq));
    return vector3d_t(static_cast<float>(v.x / len), static_cast<float>(v.y / len),
                      static_cast<float>(v.z / len));
}

bool degenerate(const vector3d_t& v) {
    return v.x * v.x + v.y * v.y + v.z * v.z == 0.0f;
}

} // namespace

camera_t::camera_t(const point3d_t& from, const point3d_t& to, const point3d_t& up, int resX, int resY,
                   float focalDist, float lensRadius, float focusDist, bool qmc, cameraType type)
    : pos(from), rayOrigin(from), focal(focalDist), focusDistance(focusDist), resx(resX), resy(resY),
      lookDistance(0.0f), aperture(lensRadius), useQmc(qmc), halton2(2), halton3(3), camType(type) {
    vector3d_t U = up - from;
    vector3d_t D = to - from;
    float L = D.length();
    // No viewing direction at all: look along -z, keep the true (zero)
    // distance so the orthographic rectangle shrinks instead of inventing a
    // size.
    if (degenerate(D)) D = vector3d_t(0.0f, 0.0f, -1.0f);

    vector3d_t R0 = U ^ D;
    // The up point gives no direction across the view (on the viewing line,
    // at the eye, or so close that the cross product underflows): choose
    // world +y, or +z when looking along y, so the image keeps two axes.
    if (degenerate(R0)) {
        R0 = vector3d_t(0.0f, 1.0f, 0.0f) ^ D;
        if (degenerate(R0)) R0 = vector3d_t(0.0f, 0.0f, 1.0f) ^ D;
    }
    vector3d_t V = unitOf(R0 ^ D);
    vector3d_t R = -unitOf(R0);

    // L is 0 exactly when D was replaced by the unit fallback above.
    if (L != 0.0f) D = D / L;
    lookDistance = L;
    viewDir = D;

    float aspect = static_cast<float>(resy) / static_cast<float>(resx);
    float halfSize = 0.5f * L / focal;

    dofUp = aperture * V;
    dofRight = aperture * R;

    vector3d_t Va = aspect * V;
    orthoCorner = pos - halfSize * (Va + R);
    vto = focal * D - 0.5f * (Va + R);
    vright = R / static_cast<float>(resx);
    vup = Va / static_cast<float>(resy);
    float orthoScale = L / focal;
    orthoRight = orthoScale * vright;
    orthoUp = orthoScale * vup;
}

camera_t::~camera_t() {}

vector3d_t camera_t::shootRay(float x, float y) {
    vector3d_t dir;
    if (camType == orthoCamera) {
        rayOrigin = orthoCorner + x * orthoRight + y * orthoUp;
        dir = viewDir;
    } else {
        rayOrigin = pos;
        dir = unitOf(vto + x * vright + y * vup);
    }
    if (aperture != 0.0f) {
        float r1, r2;
        if (useQmc) {
            r1 = static_cast<float>(halton2.getNext());
            r2 = static_cast<float>(halton3.getNext());
        } else {
            // Two separate statements: the draw order is part of the result.
            r1 = nextRandom();
            r2 = nextRandom();
        }
        float u, v;
        ShirleyDisc(r1, r2, u, v);
        vector3d_t LI = u * dofRight + v * dofUp;
        rayOrigin += LI;
        // Aim at the point the pinhole ray reaches at focusDistance, so that
        // every lens sample of a pixel agrees there.
        dir = unitOf(focusDistance * dir - LI);
    }
    return dir;
}

} // namespace vexlar
