#include "host/floatwrite.h"

#ifdef VEXLAR_HAVE_OPENEXR
#include <vector>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#endif

namespace vexlar {
namespace host {

#ifdef VEXLAR_HAVE_OPENEXR

bool exrAvailable() {
    return true;
}

bool writeExr(const std::string& path, const floatImage_t& image, const fBuffer_t* depth, bool alpha,
              bool fullFloat, std::string& error) {
    try {
        Imf::Header header(image.width, image.height);
        header.compression() = Imf::ZIP_COMPRESSION;
        const Imf::PixelType colourType = fullFloat ? Imf::FLOAT : Imf::HALF;
        Imf::FrameBuffer frame;
        const char* names[4] = {"R", "G", "B", "A"};
        // The frame buffer must hold the channels' own type.
        std::vector<half> halves;
        char* base = const_cast<char*>(reinterpret_cast<const char*>(image.rgba.data()));
        std::size_t sample = sizeof(float);
        if (!fullFloat) {
            halves.assign(image.rgba.begin(), image.rgba.end());
            base = reinterpret_cast<char*>(halves.data());
            sample = sizeof(half);
        }
        const std::size_t pixel = 4 * sample;
        const std::size_t row = pixel * static_cast<std::size_t>(image.width);
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
            header.channels().insert(names[c], Imf::Channel(colourType));
            frame.insert(names[c],
                         Imf::Slice(colourType, base + sample * static_cast<std::size_t>(c), pixel, row));
        }
        if (depth) {
            header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
            frame.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth->data), sizeof(float),
                                         sizeof(float) * static_cast<std::size_t>(depth->resx)));
        }
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(image.height);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

#else

bool exrAvailable() {
    return false;
}

bool writeExr(const std::string&, const floatImage_t&, const fBuffer_t*, bool, bool, std::string& error) {
    error = "this vexlar was built without OpenEXR";
    return false;
}

#endif

} // namespace host
} // namespace vexlar
