// Geometric value types: directions, positions and 2D points.
//
// Plain single-precision value types, copied freely. Arithmetic is component
// by component in single precision; `normalize()` takes one double-precision
// step (the reciprocal square root) so that normalised vectors do not depend
// on how the compiler rounds intermediate results.
#ifndef VEXLARCORE_VECTOR3D_H
#define VEXLARCORE_VECTOR3D_H

#include <cmath>
#include <ostream>

namespace vexlar {

/// A direction or displacement.
class vector3d_t {
public:
    vector3d_t() : x(0), y(0), z(0) {}
    vector3d_t(float ix, float iy, float iz) : x(ix), y(iy), z(iz) {}
    explicit vector3d_t(float v) : x(v), y(v), z(v) {}

    void set(float ix, float iy, float iz) {
        x = ix;
        y = iy;
        z = iz;
    }

    /// Scales the vector in place to unit length. A zero vector stays zero.
    vector3d_t& normalize() {
        float l = x * x + y * y + z * z;
        if (l != 0.0f) {
            float f = static_cast<float>(1.0 / std::sqrt(static_cast<double>(l)));
            x *= f;
            y *= f;
            z *= f;
        }
        return *this;
    }
    float length() const { return std::sqrt(x * x + y * y + z * z); }
    float lengthSqr() const { return x * x + y * y + z * z; }
    bool null() const { return x == 0.0f && y == 0.0f && z == 0.0f; }

    vector3d_t& operator+=(const vector3d_t& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    vector3d_t& operator-=(const vector3d_t& v) {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        return *this;
    }
    vector3d_t& operator*=(float f) {
        x *= f;
        y *= f;
        z *= f;
        return *this;
    }
    vector3d_t operator-() const { return vector3d_t(-x, -y, -z); }

    float x, y, z;
};

/// A position. Same layout as vector3d_t, kept a separate type so that
/// positions and displacements are not mixed up by accident.
class point3d_t {
public:
    point3d_t() : x(0), y(0), z(0) {}
    point3d_t(float ix, float iy, float iz) : x(ix), y(iy), z(iz) {}
    explicit point3d_t(const vector3d_t& v) : x(v.x), y(v.y), z(v.z) {}

    void set(float ix, float iy, float iz) {
        x = ix;
        y = iy;
        z = iz;
    }
    /// Distance from the origin.
    float length() const { return std::sqrt(x * x + y * y + z * z); }
    /// The position as a displacement from the origin.
    vector3d_t toVector() const { return vector3d_t(x, y, z); }

    point3d_t& operator+=(const vector3d_t& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    point3d_t& operator-=(const vector3d_t& v) {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        return *this;
    }

    float x, y, z;
};

/// A 2D point, used by the triangle partition tree's clipping.
class point2d_t {
public:
    point2d_t() : x(0), y(0) {}
    point2d_t(float ix, float iy) : x(ix), y(iy) {}
    float x, y;
};

inline vector3d_t toVector(const point3d_t& p) {
    return vector3d_t(p.x, p.y, p.z);
}

inline vector3d_t operator-(const point3d_t& a, const point3d_t& b) {
    return vector3d_t(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline point3d_t operator+(const point3d_t& p, const vector3d_t& v) {
    return point3d_t(p.x + v.x, p.y + v.y, p.z + v.z);
}
inline point3d_t operator-(const point3d_t& p, const vector3d_t& v) {
    return point3d_t(p.x - v.x, p.y - v.y, p.z - v.z);
}
inline point3d_t operator*(float f, const point3d_t& p) {
    return point3d_t(f * p.x, f * p.y, f * p.z);
}
inline point3d_t operator*(const point3d_t& p, float f) {
    return point3d_t(f * p.x, f * p.y, f * p.z);
}

inline vector3d_t operator+(const vector3d_t& a, const vector3d_t& b) {
    return vector3d_t(a.x + b.x, a.y + b.y, a.z + b.z);
}
inline vector3d_t operator-(const vector3d_t& a, const vector3d_t& b) {
    return vector3d_t(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline vector3d_t operator*(const vector3d_t& v, float f) {
    return vector3d_t(v.x * f, v.y * f, v.z * f);
}
inline vector3d_t operator*(float f, const vector3d_t& v) {
    return vector3d_t(f * v.x, f * v.y, f * v.z);
}
inline vector3d_t operator/(const vector3d_t& v, float f) {
    return vector3d_t(v.x / f, v.y / f, v.z / f);
}

/// Dot product.
inline float operator*(const vector3d_t& a, const vector3d_t& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float dot(const vector3d_t& a, const vector3d_t& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

/// Right-handed cross product.
inline vector3d_t operator^(const vector3d_t& a, const vector3d_t& b) {
    return vector3d_t(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
inline vector3d_t cross(const vector3d_t& a, const vector3d_t& b) {
    return a ^ b;
}

/// Exact component equality, x then y then z; any NaN makes vectors unequal.
bool operator==(const vector3d_t& a, const vector3d_t& b);
bool operator!=(const vector3d_t& a, const vector3d_t& b);

/// Prints "(x,y,z)" with the stream's current float formatting, no newline.
std::ostream& operator<<(std::ostream& out, const vector3d_t& v);
std::ostream& operator<<(std::ostream& out, const point3d_t& p);

} // namespace vexlar

#endif
