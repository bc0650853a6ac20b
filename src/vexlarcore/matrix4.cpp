#include "vexlarcore/matrix4.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "vexlarcore/messages.h"

namespace vexlar {

matrix4x4_t::matrix4x4_t(float init) : invalid(0) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) matrix[i][j] = (i == j) ? init : 0.0f;
}

void matrix4x4_t::identity() {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) matrix[i][j] = (i == j) ? 1.0f : 0.0f;
}

matrix4x4_t& matrix4x4_t::inverse() {
    matrix4x4_t work(1.0f);
    for (int i = 0; i < 4; ++i) {
        // Partial pivoting: the first row holding the largest magnitude wins.
        float max = 0.0f;
        int ci = 0;
        for (int k = i; k < 4; ++k) {
            if (std::fabs(matrix[k][i]) > max) {
                max = std::fabs(matrix[k][i]);
                ci = k;
            }
        }
        if (max == 0.0f) {
            invalid = 1;
            std::ostringstream text;
            text << "Error mu grave invirtiendo matriz\n" << i << "\n" << *this;
            emitMessage(messageLevel_t::error, messageStream_t::standardOutput, text.str());
            std::exit(1);
        }
        std::swap(matrix[i], matrix[ci]);
        std::swap(work.matrix[i], work.matrix[ci]);
        float factor = 1.0f / matrix[i][i];
        for (int j = 0; j < 4; ++j) {
            matrix[i][j] *= factor;
            work.matrix[i][j] *= factor;
        }
        for (int k = 0; k < 4; ++k) {
            if (k == i) continue;
            float f = matrix[k][i];
            for (int j = 0; j < 4; ++j) {
                matrix[k][j] -= f * matrix[i][j];
                work.matrix[k][j] -= f * work.matrix[i][j];
            }
        }
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) matrix[i][j] = work.matrix[i][j];
    return *this;
}

matrix4x4_t operator*(const matrix4x4_t& a, const matrix4x4_t& b) {
    matrix4x4_t p(0.0f);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k) s += a.matrix[i][k] * b.matrix[k][j];
            p.matrix[i][j] = s;
        }
    return p;
}

void matrix4x4_t::translate(float dx, float dy, float dz) {
    matrix4x4_t t(1.0f);
    t.matrix[0][3] = dx;
    t.matrix[1][3] = dy;
    t.matrix[2][3] = dz;
    *this = t * (*this);
}

namespace {

// Cosine and sine of an angle in degrees, reduced to [0, 360) first so that
// angles a full turn apart give the same matrix bit for bit.
void degreesCosSin(float degrees, float& co, float& si) {
    float a = std::fmod(degrees, 360.0f);
    if (a < 0.0f) a += 360.0f;
    float rad = static_cast<float>(static_cast<double>(a) * 0.017453292519943295);
    co = std::cos(rad);
    si = std::sin(rad);
}

// The rotation by `degrees` that turns axis i towards axis j (the right-hand
// rotation about the third axis when (i, j) is (1, 2), (2, 0) or (0, 1)).
matrix4x4_t planeRotation(int i, int j, float degrees) {
    float co, si;
    degreesCosSin(degrees, co, si);
    matrix4x4_t r(1.0f);
    r.matrix[i][i] = co;
    r.matrix[i][j] = -si;
    r.matrix[j][i] = si;
    r.matrix[j][j] = co;
    return r;
}

} // namespace

void matrix4x4_t::rotateX(float degrees) {
    *this = planeRotation(1, 2, degrees) * (*this);
}

void matrix4x4_t::rotateY(float degrees) {
    *this = planeRotation(2, 0, degrees) * (*this);
}

void matrix4x4_t::rotateZ(float degrees) {
    *this = planeRotation(0, 1, degrees) * (*this);
}

void matrix4x4_t::scale(float sx, float sy, float sz) {
    for (int i = 0; i < 3; ++i) {
        matrix[i][0] *= sx;
        matrix[i][1] *= sy;
        matrix[i][2] *= sz;
    }
}

std::ostream& operator<<(std::ostream& out, const matrix4x4_t& m) {
    static const char* const open[4] = {"/ ", "| ", "| ", "\\ "};
    static const char* const close[4] = {" \\\n", " |\n", " |\n", " /\n"};
    for (int i = 0; i < 4; ++i) {
        out << open[i];
        for (int j = 0; j < 4; ++j) {
            if (j) out << " ";
            out << m.matrix[i][j];
        }
        out << close[i];
    }
    return out;
}

} // namespace vexlar
