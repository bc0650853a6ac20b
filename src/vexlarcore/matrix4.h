// Affine transformation matrix acting on column vectors (p' = M p).
//
// Row-major 4 x 4 floats; rows 0-2 of column 3 hold the translation. All
// arithmetic is single precision. Rotations take degrees. translate() and the
// rotations apply the new transformation after the existing one (M becomes
// T M), scale() applies before it (M becomes M S on the upper 3 x 3 part).
#ifndef VEXLARCORE_MATRIX4_H
#define VEXLARCORE_MATRIX4_H

#include "vexlarcore/vector3d.h"

#include <ostream>

namespace vexlar {

class matrix4x4_t {
public:
    /// The identity.
    matrix4x4_t() : matrix4x4_t(1.0f) {}
    /// All elements 0 except the diagonal, set to init; flag 0.
    explicit matrix4x4_t(float init);

    float* operator[](int i) { return matrix[i]; }
    const float* operator[](int i) const { return matrix[i]; }

    /// Sets the elements to the identity; the flag is kept.
    void identity();
    /// Replaces the matrix by its inverse (Gauss-Jordan elimination with
    /// partial pivoting) and returns it. A singular matrix is a programming
    /// error: the process prints "Error mu grave invirtiendo matriz", the
    /// failing column and the partly reduced matrix on standard output and
    /// ends with exit status 1.
    matrix4x4_t& inverse();
    /// M becomes T M, T translating by (dx, dy, dz).
    void translate(float dx, float dy, float dz);
    /// M becomes R M, R rotating by `degrees` about the x, y or z axis
    /// (counter-clockwise looking down the axis towards the origin).
    void rotateX(float degrees);
    void rotateY(float degrees);
    void rotateZ(float degrees);
    /// Multiplies columns 0, 1, 2 of rows 0-2 by sx, sy, sz; the translation
    /// column and row 3 are untouched.
    void scale(float sx, float sy, float sz);

    /// Row-major elements.
    float matrix[4][4];
    /// 0 normally; set to 1 by inverse() on a singular matrix just before the
    /// process stops. Copied with the matrix; a product has flag 0.
    int invalid;
};

/// The product a b (each element accumulated over k = 0..3 in order); flag 0.
matrix4x4_t operator*(const matrix4x4_t& a, const matrix4x4_t& b);

/// Prints the rows framed as "/ ... \", "| ... |", "| ... |", "\ ... /", one
/// line each, elements separated by single blanks, with the stream's current
/// float format.
std::ostream& operator<<(std::ostream& out, const matrix4x4_t& m);

/// Transforms a point: rows 0-2 times (x, y, z, 1); no perspective division.
inline point3d_t operator*(const matrix4x4_t& m, const point3d_t& p) {
    return point3d_t(m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
                     m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
                     m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]);
}

/// Transforms a direction: the upper 3 x 3 part only, no translation.
inline vector3d_t operator*(const matrix4x4_t& m, const vector3d_t& v) {
    return vector3d_t(m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
                      m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                      m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z);
}

} // namespace vexlar

#endif
