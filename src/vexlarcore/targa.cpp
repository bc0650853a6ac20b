#include "vexlarcore/targa.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vexlar {

namespace {

const char* const kCorrupt = "Corrupted or unexpected end of file";

// Header byte offsets.
enum {
    hdrIdLength = 0,
    hdrMapType = 1,
    hdrImageType = 2,
    hdrMapLength = 5,
    hdrMapEntrySize = 7,
    hdrWidth = 12,
    hdrHeight = 14,
    hdrDepth = 16,
    hdrDescriptor = 17,
    hdrSize = 18
};

const unsigned char descRightToLeft = 0x10;
const unsigned char descTopFirst = 0x20;

unsigned int le16(const unsigned char* p) {
    return p[0] | (static_cast<unsigned int>(p[1]) << 8);
}

unsigned char expand5(unsigned int v) {
    return static_cast<unsigned char>(v * 255 / 31);
}

// 5-5-5 colour in a little-endian 16-bit word: x RRRRR GGGGG BBBBB.
void unpack555(unsigned int lo, unsigned int hi, unsigned char* rgb) {
    rgb[0] = expand5((hi >> 2) & 31);
    rgb[1] = expand5((lo >> 5) + ((hi << 3) & 24));
    rgb[2] = expand5(lo & 31);
}

bool validDepth(unsigned int depth) {
    return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

bool validAlpha(unsigned int alphaBits, unsigned int bytesPerPixel) {
    return (alphaBits == 8 && bytesPerPixel == 1) || (alphaBits == 1 && bytesPerPixel == 2) ||
           (alphaBits == 8 && bytesPerPixel == 4);
}

void swapPixels(unsigned char* a, unsigned char* b) {
    std::swap_ranges(a, a + 4, b);
}

// Skips n bytes by reading them, so that pipes work as well as files and a
// file that ends inside the skipped field is noticed.
bool skipBytes(std::FILE* f, unsigned long n) {
    unsigned char scratch[512];
    while (n > 0) {
        const std::size_t chunk = n < sizeof(scratch) ? n : sizeof(scratch);
        if (std::fread(scratch, 1, chunk, f) != chunk) return false;
        n -= chunk;
    }
    return true;
}

} // namespace

targaImg_t::targaImg_t()
    : file(nullptr), alphaBits(0), bytesPerPixel(0), hasAlpha(false), greyscale(false), colorMapped(false),
      width(0), height(0), image(nullptr), colorMap(nullptr), pixel{0, 0, 0, 0}, mapLength(0) {}

targaImg_t::~targaImg_t() {
    delete image;
    delete[] colorMap;
    if (file != nullptr) std::fclose(file);
}

bool targaImg_t::fail(const char* text, bool dropImage) {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    if (dropImage) {
        delete image;
        image = nullptr;
    }
    error = text;
    return false;
}

bool targaImg_t::readError() {
    return fail(kCorrupt, true);
}

color_t targaImg_t::operator()(int x, int y) const {
    color_t c(0, 0, 0);
    // The header fields change as soon as a new file's header is accepted,
    // even if that load then fails and the old image stays: check the
    // image's own size as well.
    if (image == nullptr || x < 0 || y < 0 || x >= width || y >= height || x >= image->resx ||
        y >= image->resy)
        return c;
    (*image)(x, y) >> c;
    return c;
}

bool targaImg_t::getColor(unsigned char* src) {
    if (src == nullptr && file == nullptr) return false;
    unsigned char in[4];
    unsigned int n = bytesPerPixel;
    if (n < 1 || n > 4) return false;
    if (src != nullptr) {
        std::memcpy(in, src, n);
    } else {
        // Every byte is checked: a file that ends inside a pixel is corrupt,
        // not a pixel of 255 bytes.
        for (unsigned int i = 0; i < n; ++i) {
            int c = std::fgetc(file);
            if (c == EOF) return false;
            in[i] = static_cast<unsigned char>(c);
        }
    }
    if (colorMapped && n <= 2) {
        unsigned int index = n == 1 ? in[0] : le16(in);
        if (colorMap == nullptr || index >= mapLength) return false;
        std::memcpy(pixel, colorMap + 4 * index, 4);
        return true;
    }
    switch (n) {
    case 1:
        pixel[0] = pixel[1] = pixel[2] = in[0];
        if (hasAlpha) pixel[3] = in[0];
        break;
    case 2:
        unpack555(in[0], in[1], pixel);
        if (hasAlpha) pixel[3] = in[1] & 128;
        break;
    default:
        pixel[0] = in[2];
        pixel[1] = in[1];
        pixel[2] = in[0];
        if (n == 4 && hasAlpha) pixel[3] = in[3];
        break;
    }
    return true;
}

bool targaImg_t::Load(const char* name) {
    if (file != nullptr) std::fclose(file);
    file = std::fopen(name, "rb");
    if (file == nullptr) {
        error = "Cannot open file";
        return false;
    }

    unsigned char hdr[hdrSize];
    if (std::fread(hdr, 1, hdrSize, file) != hdrSize) return readError();

    const unsigned int type = hdr[hdrImageType];
    const unsigned int mapType = hdr[hdrMapType];
    const unsigned int mapEntrySize = hdr[hdrMapEntrySize];
    const unsigned int mapEntries = le16(hdr + hdrMapLength);
    const unsigned int depth = hdr[hdrDepth];
    const unsigned char descriptor = hdr[hdrDescriptor];

    colorMapped = type == 1 || type == 9;
    if (colorMapped && mapType == 0) return fail("Colormap image without colormap??", false);
    if (colorMapped && mapEntrySize != 15 && mapEntrySize != 16 && mapEntrySize != 24 && mapEntrySize != 32)
        return fail("Unsupported colormap bitformat", false);
    if (!colorMapped && type != 2 && type != 3 && type != 10 && type != 11)
        return fail("Targa type not supported", false);

    greyscale = type == 3 || type == 11;
    alphaBits = descriptor & 15;
    width = static_cast<unsigned short>(le16(hdr + hdrWidth));
    height = static_cast<unsigned short>(le16(hdr + hdrHeight));
    // Whole bytes per pixel: a 15-bit pixel is stored in two bytes.
    bytesPerPixel = static_cast<unsigned char>((depth + 7) / 8);
    hasAlpha = alphaBits != 0;
    const bool runLength = type >= 9;

    if (greyscale && bytesPerPixel != 1 && bytesPerPixel != 2)
        return fail("Unsupported grayscale image format", false);
    else if (colorMapped && bytesPerPixel > 2)
        return fail("24/32 bit colormap index???", false);
    if (hasAlpha && !validAlpha(alphaBits, bytesPerPixel)) return fail("Unsupported alpha format", false);
    if (!validDepth(depth)) return fail("Unsupported pixel depth", false);

    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    if (pixels * 4 > static_cast<std::uint64_t>(INT_MAX)) return fail("Image too large", false);

    if (!skipBytes(file, hdr[hdrIdLength])) return readError();

    const unsigned int entryBytes = (mapEntrySize + 7) / 8;
    if (colorMapped) {
        delete[] colorMap;
        colorMap = new unsigned char[static_cast<std::size_t>(mapEntries) * 4];
        mapLength = mapEntries;
        for (unsigned int k = 0; k < mapEntries; ++k) {
            unsigned char in[4];
            unsigned char* out = colorMap + 4 * k;
            if (std::fread(in, 1, entryBytes, file) != entryBytes) {
                delete[] colorMap;
                colorMap = nullptr;
                mapLength = 0;
                return readError();
            }
            if (entryBytes == 2) {
                unpack555(in[0], in[1], out);
                out[3] = mapEntrySize == 16 ? (in[1] & 128) : 0;
            } else {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = entryBytes == 4 ? in[3] : 0;
            }
        }
    } else if (mapType != 0 && mapEntries != 0) {
        // A map the image does not use still sits before the pixels.
        if (!skipBytes(file, static_cast<unsigned long>(mapEntries) * entryBytes)) return readError();
    }

    // Reject a file too short for its pixel data before allocating, so that a
    // tiny file announcing a huge image costs nothing. Raw data needs every
    // pixel; run-length data needs at least one header and one pixel per
    // 128 pixels. Unseekable files skip this and rely on the checked reads.
    const long here = std::ftell(file);
    if (here >= 0 && std::fseek(file, 0, SEEK_END) == 0) {
        const long end = std::ftell(file);
        if (end < 0 || std::fseek(file, here, SEEK_SET) != 0) return readError();
        const std::uint64_t available = end > here ? static_cast<std::uint64_t>(end - here) : 0;
        const std::uint64_t needed =
            runLength ? (pixels + 127) / 128 * (1 + bytesPerPixel) : pixels * bytesPerPixel;
        if (needed > available) return readError();
    }

    delete image;
    image = nullptr;
    image = new cBuffer_t(width, height);
    pixel[0] = pixel[1] = pixel[2] = 0;
    pixel[3] = 255;

    unsigned char* dst = image->data;
    // Tells a truncated file from a bad colour-map index after getColor fails.
    auto decodeFailure = [this]() {
        if (file != nullptr && (std::feof(file) || std::ferror(file))) return readError();
        return fail("Colormap index out of range", true);
    };
    if (runLength) {
        std::uint64_t left = pixels;
        while (left > 0) {
            const int h = std::fgetc(file);
            if (h == EOF) return readError();
            const unsigned int count = (static_cast<unsigned int>(h) & 127) + 1;
            // A packet reaching past the last pixel means the data is not
            // what the header describes.
            if (count > left) return readError();
            const bool run = (h & 128) != 0;
            if (run && !getColor(nullptr)) return decodeFailure();
            for (unsigned int i = 0; i < count; ++i) {
                if (!run && !getColor(nullptr)) return decodeFailure();
                std::memcpy(dst, pixel, 4);
                dst += 4;
            }
            left -= count;
        }
    } else {
        const std::size_t lineBytes = static_cast<std::size_t>(width) * bytesPerPixel;
        std::vector<unsigned char> line(lineBytes);
        for (unsigned int y = 0; y < height; ++y) {
            if (lineBytes != 0 &&
                (std::fread(line.data(), 1, lineBytes, file) != lineBytes || std::feof(file)))
                return readError();
            unsigned char* src = line.data();
            for (unsigned int x = 0; x < width; ++x, src += bytesPerPixel) {
                if (!getColor(src)) return decodeFailure();
                std::memcpy(dst, pixel, 4);
                dst += 4;
            }
        }
    }

    std::fclose(file);
    file = nullptr;

    if ((descriptor & descTopFirst) == 0) {
        for (int r = 0; r < height / 2; ++r) {
            unsigned char* a = (*image)(0, r);
            unsigned char* b = (*image)(0, height - 1 - r);
            std::swap_ranges(a, a + static_cast<std::size_t>(width) * 4, b);
        }
    }
    if ((descriptor & descRightToLeft) != 0) {
        for (int r = 0; r < height; ++r)
            for (int k = 0; k < width / 2; ++k) swapPixels((*image)(k, r), (*image)(width - 1 - k, r));
    }

    error = "No errors";
    return true;
}

} // namespace vexlar
