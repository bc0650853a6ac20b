#include "host/floatwrite.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vexlarcore/colorutil.h"

namespace vexlar {
namespace host {

namespace {

bool finish(std::FILE* out, std::string& error) {
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool put(std::FILE* out, const void* data, std::size_t size, std::string& error) {
    if (size != 0 && std::fwrite(data, 1, size, out) != size) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool littleEndianHost() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

} // namespace

bool writeRgbe(std::FILE* out, const floatImage_t& image, std::string& error) {
    const std::string header = "#?RADIANCE\n# Made with vexlar\nFORMAT=32-bit_rle_rgbe\n\n-Y " +
                               std::to_string(image.height) + " +X " + std::to_string(image.width) + "\n";
    if (!put(out, header.data(), header.size(), error)) return false;
    // Rows of fewer than 8 or more than 32767 pixels cannot be run-length
    // encoded anyway; flat rows are read by every RGBE reader.
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 4);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.at(x, y);
            rgbe_t e(color_t(p[0], p[1], p[2]));
            unsigned char* o = row.data() + 4 * static_cast<std::size_t>(x);
            o[0] = e.R;
            o[1] = e.G;
            o[2] = e.B;
            o[3] = e.E;
        }
        if (!put(out, row.data(), row.size(), error)) return false;
    }
    return finish(out, error);
}

bool writePfm(std::FILE* out, const floatImage_t& image, std::string& error) {
    const std::string header =
        "PF\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n-1.0\n";
    if (!put(out, header.data(), header.size(), error)) return false;
    const bool swap = !littleEndianHost();
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 12);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 3; ++c) {
                unsigned char* o =
                    row.data() + 12 * static_cast<std::size_t>(x) + 4 * static_cast<std::size_t>(c);
                std::memcpy(o, image.at(x, y) + c, 4);
                if (swap) {
                    std::swap(o[0], o[3]);
                    std::swap(o[1], o[2]);
                }
            }
        if (!put(out, row.data(), row.size(), error)) return false;
    }
    return finish(out, error);
}

} // namespace host
} // namespace vexlar
