#include "common/imagecodecs.h"

#ifdef VEXLAR_HAVE_OPENEXR
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfRgbaFile.h>
#endif

namespace vexlar {
namespace plugins {

#ifdef VEXLAR_HAVE_OPENEXR

bool exrReadable() {
    return true;
}

namespace {

bool sizeOf(const Imath::Box2i& window, texelImage_t& out, std::string& error) {
    const long long w = static_cast<long long>(window.max.x) - window.min.x + 1;
    const long long h = static_cast<long long>(window.max.y) - window.min.y + 1;
    if (w <= 0 || h <= 0 ||
        static_cast<unsigned long long>(w) * static_cast<unsigned long long>(h) > maxImagePixels) {
        error = "unsupported picture size " + std::to_string(w) + " x " + std::to_string(h);
        return false;
    }
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.rgba.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0.0f);
    return true;
}

// The frame buffer is addressed with the data window's coordinates.
char* origin(texelImage_t& out, const Imath::Box2i& window, std::size_t channel) {
    const std::ptrdiff_t shift =
        static_cast<std::ptrdiff_t>(window.min.x) +
        static_cast<std::ptrdiff_t>(window.min.y) * static_cast<std::ptrdiff_t>(out.width);
    return reinterpret_cast<char*>(out.rgba.data() + channel - 4 * shift);
}

// Luminance-chroma files: the RGBA interface turns them into RGB (at half precision).
void readLuminanceChroma(const std::string& path, texelImage_t& out) {
    Imf::RgbaInputFile file(path.c_str());
    const Imath::Box2i window = file.dataWindow();
    std::vector<Imf::Rgba> pixels(out.rgba.size() / 4);
    const std::ptrdiff_t shift =
        static_cast<std::ptrdiff_t>(window.min.x) +
        static_cast<std::ptrdiff_t>(window.min.y) * static_cast<std::ptrdiff_t>(out.width);
    file.setFrameBuffer(pixels.data() - shift, 1, static_cast<std::size_t>(out.width));
    file.readPixels(window.min.y, window.max.y);
    for (std::size_t p = 0; p < pixels.size(); ++p) {
        out.rgba[4 * p] = pixels[p].r;
        out.rgba[4 * p + 1] = pixels[p].g;
        out.rgba[4 * p + 2] = pixels[p].b;
        out.rgba[4 * p + 3] = pixels[p].a;
    }
}

} // namespace

bool decodeExr(const std::string& path, texelImage_t& out, std::string& error) {
    try {
        Imf::InputFile file(path.c_str());
        const Imf::ChannelList& channels = file.header().channels();
        const Imath::Box2i window = file.header().dataWindow();
        if (!sizeOf(window, out, error)) return false;
        const bool rgb = channels.findChannel("R") || channels.findChannel("G") || channels.findChannel("B");
        if (!rgb && (channels.findChannel("RY") || channels.findChannel("BY"))) {
            readLuminanceChroma(path, out);
            return true;
        }
        // R, G, B (or Y for all three when there is no colour) and A, read
        // as floats whatever the file stores; missing channels are 0, alpha 1.
        const bool grey = !rgb && channels.findChannel("Y");
        const char* names[4] = {grey ? "Y" : "R", grey ? "Y" : "G", grey ? "Y" : "B", "A"};
        Imf::FrameBuffer frame;
        const std::size_t pixel = 4 * sizeof(float), row = pixel * static_cast<std::size_t>(out.width);
        // A frame buffer takes one slice a channel name: grey files read Y
        // once and copy it.
        for (std::size_t c = 0; c < 4; ++c) {
            if (grey && (c == 1 || c == 2)) continue;
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, origin(out, window, c), pixel, row, 1, 1,
                                              c == 3 ? 1.0 : 0.0));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        if (grey)
            for (std::size_t p = 0; p < out.rgba.size(); p += 4)
                out.rgba[p + 1] = out.rgba[p + 2] = out.rgba[p];
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

#else

bool exrReadable() {
    return false;
}

bool decodeExr(const std::string&, texelImage_t&, std::string& error) {
    error = "this vexlar was built without OpenEXR";
    return false;
}

#endif

} // namespace plugins
} // namespace vexlar
