#include "common/imageread.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <stb_image.h>

#include "common/imagecodecs.h"
#include "vexlarcore/targa.h"

namespace vexlar {
namespace plugins {

float srgbDecode(float v) {
    if (!(v > 0.0f)) return 0.0f;
    if (v >= 1.0f) return 1.0f;
    if (v <= 0.04045f) return v / 12.92f;
    return static_cast<float>(std::pow((static_cast<double>(v) + 0.055) / 1.055, 2.4));
}

std::string readableFormats() {
    return exrReadable() ? "PNG, JPEG, TGA, HDR or EXR" : "PNG, JPEG, TGA or HDR";
}

namespace {

enum class kind_t { png, jpeg, hdr, exr, tga, unknown };

bool startsWith(const std::string& s, const char* prefix, std::size_t n) {
    return s.size() >= n && std::memcmp(s.data(), prefix, n) == 0;
}

bool hasTgaName(const std::string& path) {
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "tga" || ext == "targa";
}

// The format of a file from its first bytes; `other` names formats that
// are recognised but not read.
kind_t kindOf(const std::string& head, const std::string& path, std::string& other) {
    if (startsWith(head, "\x89PNG\r\n\x1a\n", 8)) return kind_t::png;
    if (startsWith(head, "\xff\xd8\xff", 3)) return kind_t::jpeg;
    if (startsWith(head, "#?", 2)) return kind_t::hdr;
    if (startsWith(head, "\x76\x2f\x31\x01", 4)) return kind_t::exr;
    if (startsWith(head, "GIF8", 4)) other = "GIF";
    if (startsWith(head, "BM", 2)) other = "BMP";
    if (startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4)) other = "TIFF";
    if (startsWith(head, "RIFF", 4) && head.size() >= 12 && head.compare(8, 4, "WEBP") == 0) other = "WebP";
    if (startsWith(head, "8BPS", 4)) other = "Photoshop";
    if (other.empty() && hasTgaName(path)) return kind_t::tga;
    return kind_t::unknown;
}

bool tooLarge(long long w, long long h, std::string& error) {
    if (w > 0 && h > 0 &&
        static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h) <= maxImagePixels)
        return false;
    error = "the picture is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; at most " +
            std::to_string(maxImagePixels) + " pixels are read";
    return true;
}

// Encoded integer samples to floats through a table: v / max, or its sRGB
// decoding. Alpha (every fourth sample) stays v / max.
template <class T>
void fromCodes(const T* codes, int width, int height, unsigned maxCode, const readOptions_t& options,
               texelImage_t& out) {
    std::vector<float> plain(maxCode + 1), colour(maxCode + 1);
    for (unsigned k = 0; k <= maxCode; ++k) {
        plain[k] = static_cast<float>(static_cast<double>(k) / maxCode);
        colour[k] = options.srgb ? srgbDecode(plain[k]) : plain[k];
    }
    out.width = width;
    out.height = height;
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    out.rgba.resize(4 * n);
    if (options.keepIntensity) out.intensity.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        const T* c = codes + 4 * p;
        for (std::size_t ch = 0; ch < 3; ++ch) out.rgba[4 * p + ch] = colour[c[ch]];
        out.rgba[4 * p + 3] = plain[c[3]];
        if (options.keepIntensity) out.intensity[p] = (plain[c[0]] + plain[c[1]] + plain[c[2]]) / 3.0f;
    }
}

struct stbFree_t {
    void operator()(void* p) const { stbi_image_free(p); }
};

bool readWithStb(const std::string& path, const char* name, const readOptions_t& options, texelImage_t& out,
                 std::string& error) {
    int w = 0, h = 0, channels = 0;
    if (!stbi_info(path.c_str(), &w, &h, &channels)) {
        error = std::string("corrupt or unsupported ") + name + " file (" + stbi_failure_reason() + ")";
        return false;
    }
    if (tooLarge(w, h, error)) return false;
    const bool wide = stbi_is_16_bit(path.c_str()) != 0;
    std::unique_ptr<void, stbFree_t> data(
        wide ? static_cast<void*>(stbi_load_16(path.c_str(), &w, &h, &channels, 4))
             : static_cast<void*>(stbi_load(path.c_str(), &w, &h, &channels, 4)));
    if (!data) {
        error = std::string("corrupt or unsupported ") + name + " file (" + stbi_failure_reason() + ")";
        return false;
    }
    if (wide)
        fromCodes(static_cast<const std::uint16_t*>(data.get()), w, h, 65535u, options, out);
    else
        fromCodes(static_cast<const unsigned char*>(data.get()), w, h, 255u, options, out);
    return true;
}

bool readTga(const std::string& path, const readOptions_t& options, texelImage_t& out, std::string& error) {
    targaImg_t tga;
    if (!tga.Load(path.c_str())) {
        error = "TGA file: " + tga.error;
        return false;
    }
    if (tooLarge(tga.width, tga.height, error)) return false;
    // Without alpha bits the reader's alpha bytes mean nothing (colour-map
    // entries of 24 bits give 0): such pictures are opaque.
    const std::size_t n = static_cast<std::size_t>(tga.width) * static_cast<std::size_t>(tga.height);
    if (!tga.hasAlpha)
        for (std::size_t p = 0; p < n; ++p) tga.image->data[4 * p + 3] = 255;
    fromCodes(tga.image->data, tga.width, tga.height, 255u, options, out);
    return true;
}

bool readWhole(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return false;
    }
    bytes = all.str();
    return true;
}

bool readHead(const std::string& path, std::string& head, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    char buf[16];
    in.read(buf, sizeof buf);
    head.assign(buf, static_cast<std::size_t>(in.gcount()));
    return true;
}

// Linear files can hold infinities, not-a-number and negative values,
// none of which is light a renderer can use.
void sanitise(texelImage_t& out) {
    for (float& v : out.rgba)
        if (!(v >= 0.0f) || std::isinf(v)) v = 0.0f;
}

void fillIntensity(texelImage_t& out) {
    const std::size_t n = out.rgba.size() / 4;
    out.intensity.resize(n);
    for (std::size_t p = 0; p < n; ++p)
        out.intensity[p] = (out.rgba[4 * p] + out.rgba[4 * p + 1] + out.rgba[4 * p + 2]) / 3.0f;
}

} // namespace

bool readImage(const std::string& path, const readOptions_t& options, texelImage_t& out, std::string& error) {
    out = texelImage_t();
    std::string head, other;
    if (!readHead(path, head, error)) return false;
    bool ok = false;
    switch (kindOf(head, path, other)) {
    case kind_t::png:
        out.format = "PNG";
        ok = readWithStb(path, "PNG", options, out, error);
        break;
    case kind_t::jpeg:
        out.format = "JPEG";
        ok = readWithStb(path, "JPEG", options, out, error);
        break;
    case kind_t::tga:
        out.format = "TGA";
        ok = readTga(path, options, out, error);
        break;
    case kind_t::hdr: {
        out.format = "HDR";
        out.linearFile = true;
        std::string bytes;
        ok = readWhole(path, bytes, error) && decodeRgbe(bytes, out, error);
        if (!ok) error = "Radiance HDR file: " + error;
        break;
    }
    case kind_t::exr:
        out.format = "EXR";
        out.linearFile = true;
        if (!exrReadable()) {
            error = "an OpenEXR file, but this vexlar was built without OpenEXR";
            return false;
        }
        ok = decodeExr(path, out, error);
        if (!ok) error = "OpenEXR file: " + error;
        break;
    case kind_t::unknown:
        if (head.empty())
            error = "the file is empty";
        else if (!other.empty())
            error = other + " pictures are not supported (use " + readableFormats() + ")";
        else
            error = "unknown image format: the file starts like none of " + readableFormats() +
                    " (TGA files are recognised by the name ending in .tga)";
        return false;
    }
    if (!ok) {
        out = texelImage_t();
        return false;
    }
    if (out.linearFile) sanitise(out);
    if (out.linearFile && options.keepIntensity) fillIntensity(out);
    return true;
}

} // namespace plugins
} // namespace vexlar
