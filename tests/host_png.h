// Decoding the PNG files the host writes, with libpng's simplified reader.
#ifndef VEXLAR_TESTS_HOST_PNG_H
#define VEXLAR_TESTS_HOST_PNG_H

#include <png.h>

#include <string>
#include <vector>

namespace support {

struct image_t {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba; // four bytes a pixel, rows top down
    const unsigned char* at(int x, int y) const { return rgba.data() + 4 * (y * width + x); }
};

/// Reads `path` into `img` as RGBA; false when it is not a readable PNG.
inline bool readPng(const std::string& path, image_t& img) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    img.rgba.resize(PNG_IMAGE_SIZE(image));
    img.width = static_cast<int>(image.width);
    img.height = static_cast<int>(image.height);
    return png_image_finish_read(&image, nullptr, img.rgba.data(), 0, nullptr) != 0;
}

} // namespace support

#endif
