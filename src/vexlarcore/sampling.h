// Optics, direction sampling and the library's pseudo-random generator.
//
// Free functions shared by shaders, lights, the camera, the indirect-light
// code and the photon map. Everything is single precision except the steps
// documented as double precision (each is computed in double and rounded
// once), so results are reproducible bit for bit across compilers.
//
// Thread-safety: the functions are pure except nextRandom(), which advances
// the process-wide `myseed` without any lock. `dirconverter` is read-only
// after library load and may be read from any thread.
#ifndef VEXLARCORE_SAMPLING_H
#define VEXLARCORE_SAMPLING_H

#include "vexlarcore/vector3d.h"

#include <cstdint>

namespace vexlar {

/// State of the library's only random generator; 123212 at library load.
/// Assign it to restart a sequence. Values <= 0 are not meaningful seeds
/// (0 stays 0 forever).
extern int myseed;

/// One step of the Park-Miller minimal standard generator (Schrage's method,
/// no 32-bit overflow) on `myseed`. Returns myseed * 2^-31 as a float; the
/// result lies in (0, 1], since the largest seeds round up to 1.0 in single
/// precision. Not thread-safe.
inline float nextRandom() {
    int hi = myseed / 127773;
    int lo = myseed - hi * 127773;
    myseed = 16807 * lo - 2836 * hi;
    if (myseed < 0) myseed += 2147483647;
    return static_cast<float>(myseed) * 4.656612873077393e-10f;
}

/// Direction of the ray refracted at a surface with normal n (unit) for the
/// unit direction v pointing away from the surface, with relative index of
/// refraction ior. The side is chosen from the sign of v*n: from the back
/// (v*n < 0) the ratio is ior, from the front 1/ior. Returns a unit vector,
/// or the zero vector on total internal reflection.
vector3d_t refract(const vector3d_t& n, const vector3d_t& v, float ior);

/// Unpolarised dielectric Fresnel terms for the unit direction v (pointing
/// away from the surface) and the unit normal n, either side. Kr is the
/// reflected fraction, Kt = 1 - Kr (0 once Kr reaches 1). At exactly grazing
/// incidence with ior <= 1, where the formula is 0/0, Kr is 1 and Kt is 0.
void fresnel(const vector3d_t& v, const vector3d_t& n, float ior, float& Kr, float& Kt);

/// Schlick's approximation: Kr = r0 + (1 - r0)(1 - v*n)^5, Kt = 1 - Kr.
/// r0 is the reflectance at normal incidence. v*n is used as it is: the
/// caller passes v on the side of n.
void fast_fresnel(const vector3d_t& v, const vector3d_t& n, float r0, float& Kr, float& Kt);

/// Completes the unit vector n to a frame: u and v are unit, perpendicular to
/// n and to each other, with v = n x u. For n = (0, 0, +-1) the frame is
/// u = (+-1, 0, 0), v = (0, 1, 0). u is (n.y, -n.x, 0) scaled to unit length
/// (taken in double precision when n.x and n.y are so small that their
/// squares underflow in single precision).
void createCS(const vector3d_t& n, vector3d_t& u, vector3d_t& v);

/// Radical inverse of `i` in base `base` (>= 2): the base-`base` digits of
/// i mirrored about the radix point, a fraction in [0, 1). Point n of the
/// Halton sequence in that base, and in base 2 the second coordinate of the
/// Hammersley set. Base 2 is the bits of i reversed times 2^-64, exact for
/// every i below 2^53; other bases sum the digits' fractions in double
/// precision, lowest digit first.
double radicalInverse(std::uint64_t i, int base);

/// Shirley's concentric mapping of (r1, r2) in [0, 1]^2 onto the unit disc;
/// (0.5, 0.5) is the centre. Outputs the disc point (u, v).
void ShirleyDisc(float r1, float r2, float& u, float& v);

/// A direction in the cone around d with half-angle acos(cosang), d, u, v
/// being an orthonormal frame. z1 in [0, 1) selects the azimuth, z2 in [0, 1]
/// the cosine of the polar angle: z2 = 0 gives d, z2 = 1 the cone's rim.
/// Uniform over the cone's solid angle for uniform z1, z2. Not renormalised.
vector3d_t randomVectorCone(const vector3d_t& d, const vector3d_t& u, const vector3d_t& v, float cosang,
                            float z1, float z2);
/// The same with u, v from createCS(d, u, v).
vector3d_t randomVectorCone(const vector3d_t& d, float cosang, float z1, float z2);

/// The direction of cell `sample` (0 .. square*square - 1) of a square x
/// square grid over the cone around d with half-angle acos(cosang): the cell
/// index divided by `square` selects the azimuth step, the remainder the step
/// of cos(theta), starting at the axis. Sample 0 is d itself; so is every
/// sample when square <= 0.
vector3d_t discreteVectorCone(const vector3d_t& d, float cosang, int sample, int square);

/// Cylindrical texture coordinates around the z axis: v = 1 - (z + 1) / 2,
/// u in [0, 1] from the azimuth atan2(x, y) (u = 0 on the axis).
void tubemap(const point3d_t& p, float& u, float& v);

/// Spherical texture coordinates: u from the azimuth atan2(x, y), computed
/// only when x and y are both non-zero (otherwise 0); v = polar angle / pi,
/// in [0, 1]. The origin maps to (0, 0).
void spheremap(const point3d_t& p, float& u, float& v);

/// Two-byte encoding of unit directions, used by the photon map: a theta byte
/// t (polar angle t * pi / 255 from +z, t = 0 .. 254) and a phi byte p
/// (azimuth 2 * pi * p / 256 from +x towards +y). Theta byte 255 is the null
/// direction (0, 0, 0).
struct dirConverter_t {
    /// Fills the four tables.
    dirConverter_t();

    /// Decodes a byte pair: (0, 0, 0) for theta 255, otherwise
    /// (sintheta[t] cosphi[p], sintheta[t] sinphi[p], costheta[t]).
    vector3d_t convert(unsigned char theta, unsigned char phi) const {
        if (theta == 255) return vector3d_t(0.0f, 0.0f, 0.0f);
        return vector3d_t(sintheta[theta] * cosphi[phi], sintheta[theta] * sinphi[phi], costheta[theta]);
    }

    /// Encodes a direction as the byte pair whose decoded direction is the
    /// nearest tabulated one (largest cosine to dir; on a tie the smaller
    /// theta, then the smaller phi). Only the direction of dir matters, not
    /// its length. The zero vector, and any vector with a NaN component,
    /// encode as theta 255, phi 0. At the poles phi is 0.
    void encode(const vector3d_t& dir, unsigned char& theta, unsigned char& phi) const;

    float cosphi[256];
    float sinphi[256];
    float costheta[255];
    float sintheta[255];
};

/// The library's direction tables, filled at library load, never changed.
extern const dirConverter_t dirconverter;

} // namespace vexlar

#endif
