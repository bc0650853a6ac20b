#include "vexlarcore/modulator.h"

#include <algorithm>
#include <cmath>

#include "vexlarcore/sampling.h"

namespace vexlar {

namespace {

// Coordinate k[axis] of q with 1 = x, 2 = y, 3 = z; anything else is "none".
inline float axisValue(const point3d_t& q, int axis) {
    switch (axis) {
    case 1:
        return q.x;
    case 2:
        return q.y;
    case 3:
        return q.z;
    default:
        return 0.0f;
    }
}

// Tiling of one image coordinate: scales by the count, then folds the value
// back into 0..1 keeping its fractional part (1 itself stays 1).
inline float repeatCoordinate(float t, int count) {
    if (count <= 1) return t;
    t = t * static_cast<float>(count);
    // std::trunc equals the int conversion wherever that is defined, and
    // stays defined for coordinates far outside the int range.
    if (t > 1.0f)
        t = t - std::trunc(t);
    else if (t < 0.0f)
        t = t + (1.0f - std::trunc(t));
    return t;
}

// Size and offset about the texture's centre, in double precision.
inline float scaleAboutCentre(float t, float size, float offset) {
    return static_cast<float>(static_cast<double>(size) * (static_cast<double>(t) - 0.5) +
                              static_cast<double>(offset) + 0.5);
}

} // namespace

modulator_t::modulator_t(const texture_t* tex)
    : amountA(0), amountB(0), amountValue(0), amountC(0), amountD(0), displaceAmount(0), sizeX(1), sizeY(1),
      sizeZ(1), mode(MIX), texture(tex), projection(FLAT), coordSource(ORCO), useTransform(false),
      coordTransform(1.0f), offsetX(0), offsetY(0), offsetZ(0), cropMinX(0), cropMinY(0), cropMaxX(1),
      cropMaxY(1), repeatX(1), repeatY(1), clipMode(NOCLIP), axisX(1), axisY(2), axisZ(3) {}

bool modulator_t::doMapping(const surfacePoint_t& sp, const vector3d_t& eye, point3d_t& texpt) const {
    // 1. The source point.
    point3d_t q = texpt;
    switch (coordSource) {
    case UV:
        q.set(2.0f * sp.u - 1.0f, 1.0f - 2.0f * sp.v, -0.98f);
        break;
    case GLOBAL:
        q = sp.point;
        break;
    case ORCO:
        // A hit record always names its object; without one the record's own
        // orco point is the best stand-in.
        q = sp.object ? sp.object->toObjectOrco(sp.point) : sp.orcoPoint;
        break;
    case AUX:
        q.set(sp.auxPoint.x, sp.auxPoint.y, -0.98f);
        break;
    case NORMAL:
        q.set(-sp.normal.x, sp.normal.z, sp.normal.y);
        break;
    case REFLECTION: {
        vector3d_t e = eye;
        e.normalize();
        const vector3d_t n = (sp.geometricNormal * e >= 0.0f) ? sp.normal : -sp.normal;
        const float d = e * n;
        const vector3d_t r = (d >= 0.0f) ? (2.0f * d) * n - e : -e;
        q.set(r.x, r.y, r.z);
        break;
    }
    default:
        break;
    }

    // 2. The optional transform. A reflection direction feeding a projection
    //    is a direction: it must not be translated.
    if (useTransform) {
        if (coordSource == REFLECTION && projection != FLAT) {
            const vector3d_t v = coordTransform * vector3d_t(q.x, q.y, q.z);
            q.set(v.x, v.y, v.z);
        } else {
            q = coordTransform * q;
        }
    }

    // 3-4. Procedural textures: per-axis scale and offset, never clipped.
    if (!texture->isDiscrete()) {
        texpt.x = sizeX * (axisValue(q, axisX) + offsetX);
        texpt.y = sizeY * (axisValue(q, axisY) + offsetY);
        texpt.z = sizeZ * (axisValue(q, axisZ) + offsetZ);
        return false;
    }

    // 5. Image textures: pick the axes, then project onto the image plane.
    texpt.set(axisValue(q, axisX), axisValue(q, axisY), axisValue(q, axisZ));
    switch (projection) {
    case FLAT:
        texpt.x = (texpt.x + 1.0f) * 0.5f;
        texpt.y = (1.0f - texpt.y) * 0.5f;
        break;
    case CUBE: {
        vector3d_t m;
        if (!useTransform && coordSource != GLOBAL) {
            m = sp.object ? sp.object->toObjectRot(sp.normal) : sp.normal;
        } else {
            m = coordTransform * sp.normal;
            m.normalize();
        }
        const float ax = std::fabs(m.x), ay = std::fabs(m.y), az = std::fabs(m.z);
        const float x = texpt.x, y = texpt.y, z = texpt.z;
        if (ax >= ay && ax >= az) {
            texpt.x = (y + 1.0f) * 0.5f;
            texpt.y = (1.0f - z) * 0.5f;
        } else if (ay >= ax && ay >= az) {
            texpt.x = (x + 1.0f) * 0.5f;
            texpt.y = (1.0f - z) * 0.5f;
        } else {
            texpt.x = (x + 1.0f) * 0.5f;
            texpt.y = (1.0f - y) * 0.5f;
        }
        break;
    }
    case TUBE: {
        const float x = texpt.x, y = texpt.y, z = texpt.z;
        const float r2 = x * x + y * y;
        double u = 0.0;
        if (r2 != 0.0f) {
            const float r = std::sqrt(r2);
            u = (1.0 -
                 std::atan2(static_cast<double>(x / r), static_cast<double>(y / r)) * 0.3183098861837907) *
                0.5;
        }
        texpt.x = static_cast<float>(u);
        // Only the azimuth is taken in double; the height stays single.
        texpt.y = 1.0f - (z + 1.0f) * 0.5f;
        break;
    }
    case SPHERE: {
        const point3d_t p = texpt;
        spheremap(p, texpt.x, texpt.y);
        break;
    }
    default:
        break;
    }

    // 6. Repeat.
    texpt.x = repeatCoordinate(texpt.x, repeatX);
    texpt.y = repeatCoordinate(texpt.y, repeatY);

    // 7. Crop to the chosen part of the image.
    texpt.x = texpt.x * (cropMaxX - cropMinX) + cropMinX;
    texpt.y = texpt.y * (cropMaxY - cropMinY) + cropMinY;

    // 8. Size and offset about the centre.
    texpt.x = scaleAboutCentre(texpt.x, sizeX, offsetX);
    texpt.y = scaleAboutCentre(texpt.y, sizeY, offsetY);

    // 9. Edges.
    switch (clipMode) {
    case CLAMP:
        texpt.x = std::min(1.0f, std::max(0.0f, texpt.x));
        texpt.y = std::min(1.0f, std::max(0.0f, texpt.y));
        return false;
    case CLIP:
        return texpt.x < 0.0f || texpt.x > 1.0f || texpt.y < 0.0f || texpt.y > 1.0f;
    case CLIPCUBE:
        return texpt.x < 0.0f || texpt.x > 1.0f || texpt.y < 0.0f || texpt.y > 1.0f || texpt.z < -1.0f ||
               texpt.z > 1.0f;
    default:
        return false;
    }
}

namespace {

const color_t white(1.0f, 1.0f, 1.0f);

void blendColor(int mode, color_t& col, const color_t& tc, float w) {
    switch (mode) {
    case modulator_t::MIX:
        col = mix(tc, col, w);
        break;
    case modulator_t::MULTIPLY:
        col = col * mix(tc, white, w);
        break;
    case modulator_t::ADD:
        col = col + w * tc;
        break;
    case modulator_t::SUBTRACT:
        col = col - w * tc;
        break;
    default:
        break;
    }
}

void blendValue(int mode, float& value, float tv, float w) {
    switch (mode) {
    case modulator_t::MIX:
        value = tv * w + value * (1.0f - w);
        break;
    case modulator_t::MULTIPLY:
        value = (tv * w + (1.0f - w)) * value;
        break;
    case modulator_t::ADD:
        value = value + w * tv;
        break;
    case modulator_t::SUBTRACT:
        value = value - w * tv;
        break;
    default:
        break;
    }
}

inline color_t rgb(const colorA_t& c) {
    return color_t(c.R, c.G, c.B);
}

} // namespace

void modulator_t::modulate(color_t& colA, color_t& colB, float& value, const surfacePoint_t& sp,
                           const vector3d_t& eye) const {
    point3d_t texpt(0, 0, 0);
    if (doMapping(sp, eye, texpt)) return;
    const color_t tc = rgb(texture->colorAt(texpt));
    const float tv = texture->floatAt(texpt);
    if (amountA > 0.0f) blendColor(mode, colA, tc, amountA);
    if (amountB > 0.0f) blendColor(mode, colB, tc, amountB);
    if (amountValue > 0.0f) blendValue(mode, value, tv, amountValue);
}

void modulator_t::modulate(color_t& colC, color_t& colD, const surfacePoint_t& sp,
                           const vector3d_t& eye) const {
    point3d_t texpt(0, 0, 0);
    if (doMapping(sp, eye, texpt)) return;
    const color_t tc = rgb(texture->colorAt(texpt));
    if (amountC > 0.0f) blendColor(mode, colC, tc, amountC);
    if (amountD > 0.0f) blendColor(mode, colD, tc, amountD);
}

void modulator_t::displace(surfacePoint_t& sp, const vector3d_t& eye, float res) const {
    if (displaceAmount == 0.0f) return;
    point3d_t q(0, 0, 0);
    if (doMapping(sp, eye, q)) return;

    // Each difference is taken "minus side first", and the four samples are
    // read in a fixed order: minus U, plus U, minus V, plus V.
    float du, dv;
    if (coordSource == UV && texture->isDiscrete() && sp.hasUV) {
        // One texel along each tangent, from the uv derivatives.
        float l1 = std::sqrt(texture->toTexelU(sp.dudNU) * texture->toTexelU(sp.dudNU) +
                             texture->toTexelV(sp.dvdNU) * texture->toTexelV(sp.dvdNU));
        float l2 = std::sqrt(texture->toTexelU(sp.dudNV) * texture->toTexelU(sp.dudNV) +
                             texture->toTexelV(sp.dvdNV) * texture->toTexelV(sp.dvdNV));
        if (l1 == 0.0f) l1 = 1.0f;
        if (l2 == 0.0f) l2 = 1.0f;
        const float s1u = sp.dudNU / l1, s1v = sp.dvdNU / l1;
        const float s2u = sp.dudNV / l2, s2v = sp.dvdNV / l2;
        const float minusU = texture->floatAt(point3d_t(q.x - s1u, q.y - s1v, 0.0f));
        const float plusU = texture->floatAt(point3d_t(q.x + s1u, q.y + s1v, 0.0f));
        const float minusV = texture->floatAt(point3d_t(q.x - s2u, q.y - s2v, 0.0f));
        const float plusV = texture->floatAt(point3d_t(q.x + s2u, q.y + s2v, 0.0f));
        du = (minusU - plusU) * displaceAmount;
        dv = (minusV - plusV) * displaceAmount;
    } else {
        // A zero step would turn the slope into 0 * infinity.
        if (res == 0.0f || !std::isfinite(res)) return;
        const vector3d_t a = res * sp.tangentU, b = res * sp.tangentV;
        const float scale = displaceAmount * (1.0f / res);
        const float minusU = texture->floatAt(q - a);
        const float plusU = texture->floatAt(q + a);
        const float minusV = texture->floatAt(q - b);
        const float plusV = texture->floatAt(q + b);
        du = (minusU - plusU) * scale;
        dv = (minusV - plusV) * scale;
    }

    const float w = std::max(0.0f, 1.0f - std::max(std::fabs(du), std::fabs(dv)));
    vector3d_t n = w * sp.normal + du * sp.tangentU + dv * sp.tangentV;
    n.normalize();
    sp.normal = n;
}

} // namespace vexlar
