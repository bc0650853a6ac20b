// A small random generator for plug-ins whose numbers must depend only on
// what they are computing, never on what was computed before.
//
// The library's nextRandom() advances one process-wide seed, so the numbers
// a shading point draws from it depend on the order in which points are
// shaded. A light or shader that seeds a hashRandom_t from the shading
// point's position (and a salt of its own) instead gets the same numbers for
// the same point whichever process renders it and whatever it rendered
// before; neighbouring points get unrelated numbers. Photon tracers seed one
// per photon.
//
// SplitMix64 (Steele, Lea and Flood): a 64-bit counter scrambled by a
// bijective mix. Header-only, a plain value; not shared between threads.
#ifndef VEXLARCORE_HASHRANDOM_H
#define VEXLARCORE_HASHRANDOM_H

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "vexlarcore/vector3d.h"

namespace vexlar {

class hashRandom_t {
public:
    explicit hashRandom_t(std::uint64_t seed) : state(mix(seed)) {}

    /// Seeded by the exact bits of a position and a salt (one per use, so
    /// that two lights at the same point draw unrelated numbers).
    static hashRandom_t at(const point3d_t& p, std::uint64_t salt) {
        std::uint64_t h = mix(salt);
        for (float c : {p.x, p.y, p.z}) {
            std::uint32_t bits;
            std::memcpy(&bits, &c, sizeof bits);
            h = mix(h ^ bits);
        }
        return hashRandom_t(h);
    }

    /// The next 64 random bits.
    std::uint64_t nextBits() { return mix(state += 0x9e3779b97f4a7c15ull); }
    /// A float in [0, 1): the top 24 bits of the next number.
    float next() { return static_cast<float>(nextBits() >> 40) * (1.0f / 16777216.0f); }

    /// The bijective scramble of one 64-bit word.
    static std::uint64_t mix(std::uint64_t z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state;
};

/// The base-b radical inverse of i: its digits mirrored about the point, in
/// [0, 1). Bases 2 and 3 together give the Halton points photon lights
/// shoot along.
inline double radicalInverseOf(std::uint64_t i, unsigned base) {
    const double inv = 1.0 / base;
    double f = inv, r = 0.0;
    for (; i > 0; i /= base, f *= inv) r += f * static_cast<double>(i % base);
    return r;
}

} // namespace vexlar

#endif
