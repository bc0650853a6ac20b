#include "vexlarcore/output.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "vexlarcore/messages.h"

namespace vexlar {

const unsigned char TGAHDR[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

// Allocates n cleared bytes or ends the process with `message`.
unsigned char* allocOrDie(std::size_t n, const char* message) {
    unsigned char* p = new (std::nothrow) unsigned char[n]();
    if (p == nullptr) {
        emitMessage(messageLevel_t::error, messageStream_t::standardOutput, std::string(message) + "\n");
        std::exit(1);
    }
    return p;
}

} // namespace

outTga_t::outTga_t(int resx, int resy, const char* fname, bool saveAlpha)
    : saveAlpha(saveAlpha), data(nullptr), alphaBuffer(nullptr), sizex(resx), sizey(resy),
      outfile(fname ? fname : "") {
    // Computed in size_t: the pixel count of a large image overflows int.
    std::size_t pixels =
        (resx > 0 && resy > 0) ? static_cast<std::size_t>(resx) * static_cast<std::size_t>(resy) : 0;
    data = allocOrDie(pixels * 3, "Fatal error allocating memory in outTga_t");
    if (saveAlpha) alphaBuffer = allocOrDie(pixels, "Could not allocate memory for alpha buffer in outTga_t");
}

outTga_t::~outTga_t() {
    delete[] data;
    delete[] alphaBuffer;
}

bool outTga_t::putPixel(int x, int y, const color_t& c, float alpha, float /*depth*/) {
    // A stray pixel must not write outside the buffers; it is not a reason
    // to stop the render either.
    if (x < 0 || y < 0 || x >= sizex || y >= sizey) return true;
    std::size_t p =
        static_cast<std::size_t>(y) * static_cast<std::size_t>(sizex) + static_cast<std::size_t>(x);
    (data + 3 * p) << c;
    if (saveAlpha) {
        // The negated test also maps a NaN alpha to 0.
        float a = (alpha >= 0.0f) ? ((alpha < 1.0f) ? alpha : 1.0f) : 0.0f;
        alphaBuffer[p] = static_cast<unsigned char>(static_cast<int>(a * 255.0f));
    }
    return true;
}

bool outTga_t::flush() {
    return savetga(outfile.c_str());
}

bool outTga_t::savetga(const char* name) {
    if (name == nullptr) return false;
    emitMessage(messageLevel_t::info, messageStream_t::standardOutput,
                std::string("Saving Targa file as ") + name + "\n");
    if (sizex < 0 || sizey < 0 || sizex > 0xffff || sizey > 0xffff) {
        emitMessage(messageLevel_t::error, messageStream_t::standardError,
                    "[ERROR]: image size " + std::to_string(sizex) + " x " + std::to_string(sizey) +
                        " does not fit a Targa file (at most 65535 x 65535)\n");
        return false;
    }
    std::FILE* fp = std::fopen(name, "wb");
    if (fp == nullptr) return false;

    const int bpp = saveAlpha ? 4 : 3;
    unsigned char head[18];
    for (int i = 0; i < 12; ++i) head[i] = TGAHDR[i];
    head[12] = static_cast<unsigned char>(sizex & 0xff);
    head[13] = static_cast<unsigned char>((sizex >> 8) & 0xff);
    head[14] = static_cast<unsigned char>(sizey & 0xff);
    head[15] = static_cast<unsigned char>((sizey >> 8) & 0xff);
    head[16] = saveAlpha ? 32 : 24;
    head[17] = saveAlpha ? 0x28 : 0x20;
    // Every write is checked, and so is the close (buffered data reaches
    // the disk only there): a full disk must not be reported as saved.
    bool ok = std::fwrite(head, 1, sizeof head, fp) == sizeof head;

    std::vector<unsigned char> row(static_cast<std::size_t>(sizex) * bpp);
    for (int y = 0; ok && y < sizey; ++y) {
        std::size_t p = static_cast<std::size_t>(y) * static_cast<std::size_t>(sizex);
        unsigned char* out = row.data();
        for (int x = 0; x < sizex; ++x, ++p) {
            const unsigned char* rgb = data + 3 * p;
            *out++ = rgb[2];
            *out++ = rgb[1];
            *out++ = rgb[0];
            if (saveAlpha) *out++ = alphaBuffer[p];
        }
        ok = std::fwrite(row.data(), 1, row.size(), fp) == row.size();
    }
    if (std::fclose(fp) != 0) ok = false;
    if (!ok) return false;
    emitMessage(messageLevel_t::info, messageStream_t::standardOutput, "OK\n");
    return true;
}

} // namespace vexlar
