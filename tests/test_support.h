// Small helpers shared by the test files: float bit patterns, component-wise
// vector checks, printing to a string, captured output, text search,
// whole-file reads and scratch folders.
#ifndef VEXLAR_TESTS_TEST_SUPPORT_H
#define VEXLAR_TESTS_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "messagecapture.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace support {

/// The bit pattern of a float, and the float of a bit pattern.
inline std::uint32_t bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
inline float fromBits(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

/// What `operator<<` prints for `v`.
template <class T> std::string str(const T& v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

/// Component-wise checks of anything with x, y and z (vectors, points).
template <class A, class B> void expectNear(const A& a, const B& b, float tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

/// Runs `f` with the library's messages kept by a test sink instead of
/// printed: what would have gone to standard output (standard error into
/// `err` when given). An exception from `f` ends the capture and passes on.
template <class F> std::string captured(F f, std::string* err = nullptr) {
    fixtures::messageCapture_t messages;
    f();
    if (err) *err = messages.text(vexlar::messageStream_t::standardError);
    return messages.text(vexlar::messageStream_t::standardOutput);
}

/// Channel-wise check of a colour within `tol`.
template <class C> void expectColor(const C& c, double r, double g, double b, double tol = 1e-6) {
    EXPECT_TRUE(std::fabs(c.R - r) <= tol && std::fabs(c.G - g) <= tol && std::fabs(c.B - b) <= tol)
        << c.R << " " << c.G << " " << c.B << " instead of " << r << " " << g << " " << b;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

/// The whole file as bytes ("" when it cannot be read).
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// A fresh folder under /tmp, removed with everything in it.
class tempDir_t {
public:
    tempDir_t() {
        char name[] = "/tmp/vexlar-test-XXXXXX";
        const char* made = mkdtemp(name);
        path = made ? made : "";
    }
    ~tempDir_t() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    tempDir_t(const tempDir_t&) = delete;
    tempDir_t& operator=(const tempDir_t&) = delete;
    /// The names of the entries in the folder, in no particular order.
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        DIR* d = opendir(path.c_str());
        if (d == nullptr) return out;
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
        closedir(d);
        return out;
    }
    /// Writes `content` to the file `name` in the folder; its full path.
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(path + "/" + name, std::ios::binary) << content;
        return path + "/" + name;
    }
    std::string path;
};

} // namespace support

#endif
