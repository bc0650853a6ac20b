#include "host/transform.h"

#include <cmath>

namespace vexlar {
namespace host {

namespace {

matrix4x4_t matrixAt(const json& value, const jsonPath_t& at, const diagnostics_t& diag) {
    matrix4x4_t m;
    if (value.is_array() && value.size() == 16) {
        for (int i = 0; i < 16; ++i)
            m[i / 4][i % 4] =
                numberAt(value[static_cast<std::size_t>(i)], at / static_cast<std::size_t>(i), diag);
    } else if (value.is_array() && value.size() == 4) {
        for (std::size_t r = 0; r < 4; ++r) {
            const json& row = value[r];
            if (!row.is_array() || row.size() != 4)
                diag.fail(at / r, "expected a row of 4 numbers, found " + describeKind(row));
            for (std::size_t c = 0; c < 4; ++c)
                m[static_cast<int>(r)][static_cast<int>(c)] = numberAt(row[c], at / r / c, diag);
        }
    } else {
        diag.fail(at, "expected a matrix of 16 numbers (row by row) or 4 rows of 4, found " +
                          describeKind(value));
    }
    return m;
}

// Applies one step after `m`.
void applyStep(matrix4x4_t& m, const json& step, const jsonPath_t& at, const diagnostics_t& diag) {
    if (!step.is_object() || step.size() != 1)
        diag.fail(at, "expected a step with one member such as {\"translate\": [x, y, z]}, found " +
                          (step.is_object() ? "an object with " + std::to_string(step.size()) + " members"
                                            : describeKind(step)));
    const std::string kind = step.begin().key();
    const json& v = step.begin().value();
    const jsonPath_t here = at / kind;
    if (kind == "translate") {
        point3d_t t = pointAt(v, here, diag);
        m.translate(t.x, t.y, t.z);
    } else if (kind == "rotate") {
        point3d_t r = pointAt(v, here, diag);
        m.rotateX(r.x);
        m.rotateY(r.y);
        m.rotateZ(r.z);
    } else if (kind == "rotate_x") {
        m.rotateX(numberAt(v, here, diag));
    } else if (kind == "rotate_y") {
        m.rotateY(numberAt(v, here, diag));
    } else if (kind == "rotate_z") {
        m.rotateZ(numberAt(v, here, diag));
    } else if (kind == "scale") {
        point3d_t s;
        if (v.is_number()) {
            float f = numberAt(v, here, diag);
            s = point3d_t(f, f, f);
        } else {
            s = pointAt(v, here, diag);
        }
        if (s.x == 0.0f || s.y == 0.0f || s.z == 0.0f) diag.fail(here, "a scale of 0 flattens the object");
        // matrix4x4_t::scale applies before the existing placement; a step
        // must apply after it, so multiply from the left.
        matrix4x4_t sm;
        sm.scale(s.x, s.y, s.z);
        m = sm * m;
    } else if (kind == "matrix") {
        m = matrixAt(v, here, diag) * m;
    } else {
        diag.fail(at, "unknown transform step \"" + kind +
                          "\" (known: translate, rotate, rotate_x, rotate_y, rotate_z, scale, matrix)");
    }
}

} // namespace

std::string checkPlacement(const matrix4x4_t& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(m[r][c])) return "the matrix has a value that is not finite";
    if (m[3][0] != 0.0f || m[3][1] != 0.0f || m[3][2] != 0.0f || m[3][3] != 1.0f)
        return "the last row of the matrix must be 0 0 0 1";
    // Determinant of the 3 x 3 part in double precision, compared with the
    // product of its row lengths: the ratio is the volume of the unit cube
    // after the transform relative to the largest it could be, so it tells
    // a flattening transform from a merely small or large one.
    double a[3][3];
    double scale = 1.0;
    for (int r = 0; r < 3; ++r) {
        double len = 0.0;
        for (int c = 0; c < 3; ++c) {
            a[r][c] = m[r][c];
            len += a[r][c] * a[r][c];
        }
        scale *= std::sqrt(len);
    }
    double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                 a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                 a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (scale == 0.0 || !(std::fabs(det) > 1e-7 * scale))
        return "the transform is singular (it flattens the object onto a plane, a line or a point)";
    return std::string();
}

matrix4x4_t buildTransform(const json& value, const jsonPath_t& at, const diagnostics_t& diag) {
    matrix4x4_t m;
    if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i) applyStep(m, value[i], at / i, diag);
    } else if (value.is_object()) {
        applyStep(m, value, at, diag);
    } else {
        diag.fail(at, "expected a list of steps or a matrix, found " + describeKind(value));
    }
    std::string why = checkPlacement(m);
    if (!why.empty()) diag.fail(at, why);
    return m;
}

} // namespace host
} // namespace vexlar
