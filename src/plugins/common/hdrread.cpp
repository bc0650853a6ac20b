// Radiance RGBE files: header lines up to an empty line, the resolution
// line, then one scan line per row, each flat (four bytes a pixel, with the
// old run-length marker 1 1 1 n repeating the previous pixel) or run-length
// encoded per channel (the marker 2 2 hi lo, lo + 256 hi being the width).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/imagecodecs.h"
#include "vexlarcore/colorutil.h"

namespace vexlar {
namespace plugins {

namespace {

// The bytes of the file and how far they are read.
struct cursor_t {
    const std::string& bytes;
    std::size_t at = 0;

    bool line(std::string& out) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) return false;
        out = bytes.substr(at, end - at);
        at = end + 1;
        return true;
    }
    bool take(unsigned char* out, std::size_t n) {
        if (bytes.size() - at < n) return false;
        std::memcpy(out, bytes.data() + at, n);
        at += n;
        return true;
    }
    int next() { return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : -1; }
};

// One row of `width` pixels into `row` (four bytes a pixel).
bool readRow(cursor_t& in, int width, unsigned char* row, std::string& error) {
    const std::size_t w = static_cast<std::size_t>(width);
    unsigned char first[4];
    if (!in.take(first, 4)) {
        error = "the file ends inside the pixels";
        return false;
    }
    const bool encoded = width >= 8 && width < 32768 && first[0] == 2 && first[1] == 2 && !(first[2] & 0x80);
    if (encoded) {
        if ((static_cast<int>(first[2]) << 8 | first[3]) != width) {
            error = "a run-length row is not as wide as the picture";
            return false;
        }
        for (std::size_t c = 0; c < 4; ++c)
            for (std::size_t x = 0; x < w;) {
                int count = in.next();
                if (count <= 0) {
                    error = count < 0 ? "the file ends inside the pixels" : "a run of length 0";
                    return false;
                }
                const bool run = count > 128;
                const std::size_t n = static_cast<std::size_t>(run ? count - 128 : count);
                if (n > w - x) {
                    error = "a run reaches past the end of its row";
                    return false;
                }
                for (std::size_t k = 0; k < n; ++k, ++x) {
                    int v = (run && k > 0) ? static_cast<int>(row[4 * (x - 1) + c]) : in.next();
                    if (v < 0) {
                        error = "the file ends inside the pixels";
                        return false;
                    }
                    row[4 * x + c] = static_cast<unsigned char>(v);
                }
            }
        return true;
    }
    // Flat pixels; 1 1 1 n repeats the previous pixel n times (shifted by
    // 8 bits for each marker in a row).
    std::size_t x = 0, shift = 0;
    unsigned char px[4];
    std::memcpy(px, first, 4);
    for (;;) {
        if (px[0] == 1 && px[1] == 1 && px[2] == 1) {
            const std::size_t n = shift < 24 ? static_cast<std::size_t>(px[3]) << shift : w + 1;
            if (x == 0 || n > w - x) {
                error = "a repeat marker reaches outside its row";
                return false;
            }
            for (std::size_t k = 0; k < n; ++k, ++x) std::memcpy(row + 4 * x, row + 4 * (x - 1), 4);
            shift += 8;
        } else {
            std::memcpy(row + 4 * x, px, 4);
            ++x;
            shift = 0;
        }
        if (x == w) return true;
        if (!in.take(px, 4)) {
            error = "the file ends inside the pixels";
            return false;
        }
    }
}

// "-Y h +X w" and its mirror images; false for the rotated forms.
bool parseResolution(const std::string& line, int& width, int& height, bool& bottomUp, bool& rightToLeft) {
    char ys, xs;
    int h = 0, w = 0, used = 0;
    if (std::sscanf(line.c_str(), "%cY %d %cX %d%n", &ys, &h, &xs, &w, &used) != 4) return false;
    if ((ys != '-' && ys != '+') || (xs != '-' && xs != '+') || used != static_cast<int>(line.size()))
        return false;
    width = w;
    height = h;
    bottomUp = ys == '+';
    rightToLeft = xs == '-';
    return true;
}

} // namespace

bool decodeRgbe(const std::string& bytes, texelImage_t& out, std::string& error) {
    cursor_t in{bytes};
    std::string line;
    if (!in.line(line) || line.compare(0, 2, "#?") != 0) {
        error = "no \"#?RADIANCE\" signature";
        return false;
    }
    for (;;) {
        if (!in.line(line)) {
            error = "the header does not end (no empty line before the resolution)";
            return false;
        }
        if (line.empty()) break;
        if (line.compare(0, 7, "FORMAT=") == 0 && line != "FORMAT=32-bit_rle_rgbe") {
            error = "pixel format \"" + line.substr(7) + "\" is not supported (only 32-bit_rle_rgbe)";
            return false;
        }
    }
    int w = 0, h = 0;
    bool bottomUp = false, rightToLeft = false;
    if (!in.line(line) || !parseResolution(line, w, h, bottomUp, rightToLeft)) {
        error = "unsupported resolution line \"" + line + "\" (expected \"-Y height +X width\")";
        return false;
    }
    if (w <= 0 || h <= 0 ||
        static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h) > maxImagePixels) {
        error = "unsupported picture size " + std::to_string(w) + " x " + std::to_string(h);
        return false;
    }
    out.width = w;
    out.height = h;
    // The picture grows row by row in file order (its room reserved, not
    // touched), so that a short file claiming a huge picture fails before
    // it has cost the memory of that picture; a picture stored bottom-up is
    // turned over at the end.
    const std::size_t rowFloats = static_cast<std::size_t>(w) * 4;
    out.rgba.clear();
    out.rgba.reserve(rowFloats * static_cast<std::size_t>(h));
    std::vector<unsigned char> row(rowFloats);
    for (int r = 0; r < h; ++r) {
        if (!readRow(in, w, row.data(), error)) {
            error += " (row " + std::to_string(r) + ")";
            out.rgba.clear();
            return false;
        }
        out.rgba.resize(out.rgba.size() + rowFloats);
        float* line = out.rgba.data() + out.rgba.size() - rowFloats;
        for (int i = 0; i < w; ++i) {
            rgbe_t e;
            const unsigned char* p = row.data() + 4 * static_cast<std::size_t>(i);
            e.R = p[0];
            e.G = p[1];
            e.B = p[2];
            e.E = p[3];
            const color_t c = e.toColor();
            const int x = rightToLeft ? w - 1 - i : i;
            float* o = line + 4 * static_cast<std::size_t>(x);
            o[0] = c.R;
            o[1] = c.G;
            o[2] = c.B;
            o[3] = 1.0f;
        }
    }
    if (bottomUp)
        for (int a = 0, b = h - 1; a < b; ++a, --b)
            std::swap_ranges(
                out.rgba.begin() + static_cast<std::ptrdiff_t>(rowFloats * static_cast<std::size_t>(a)),
                out.rgba.begin() + static_cast<std::ptrdiff_t>(rowFloats * static_cast<std::size_t>(a + 1)),
                out.rgba.begin() + static_cast<std::ptrdiff_t>(rowFloats * static_cast<std::size_t>(b)));
    return true;
}

} // namespace plugins
} // namespace vexlar
