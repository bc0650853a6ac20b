// A rendered picture in floating point: four floats a pixel (R, G, B, A),
// rows from the top, as the renderer delivered them (after the library's own
// exposure and gamma), before the program turns them into file values.
#ifndef VEXLAR_HOST_FLOATIMAGE_H
#define VEXLAR_HOST_FLOATIMAGE_H

#include <cstddef>
#include <vector>

namespace vexlar {
namespace host {

struct floatImage_t {
    floatImage_t() = default;
    /// A black, fully transparent `w` x `h` picture.
    floatImage_t(int w, int h)
        : width(w), height(h), rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0.0f) {}

    float* at(int x, int y) { return rgba.data() + index(x, y); }
    const float* at(int x, int y) const { return rgba.data() + index(x, y); }

    int width = 0;
    int height = 0;
    std::vector<float> rgba;

private:
    std::size_t index(int x, int y) const {
        return 4 *
               (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
    }
};

} // namespace host
} // namespace vexlar

#endif
