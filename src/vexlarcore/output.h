// Pixel sinks: the interface the renderer delivers finished pixels to, and
// the library's own sink, an uncompressed TGA writer.
#ifndef VEXLARCORE_OUTPUT_H
#define VEXLARCORE_OUTPUT_H

#include "vexlarcore/color.h"

#include <string>

namespace vexlar {

/// Receives finished pixels from the render driver. Hosts derive their own
/// sinks from it. Called from the rendering thread only.
class colorOutput_t {
public:
    virtual ~colorOutput_t() {}
    /// One finished pixel: x from the left, y from the top (image pixels),
    /// alpha in [0, 1], depth the distance to the first hit (-1: no hit).
    /// Returning false asks the renderer to stop.
    virtual bool putPixel(int x, int y, const color_t& c, float alpha, float depth) = 0;
    /// Called by the host after rendering: makes the image durable. Returns
    /// false when that failed.
    virtual bool flush() = 0;
};

/// The 12 fixed leading bytes of every TGA file written: no identification
/// field, no colour map, image type 2 (uncompressed true colour), origin 0.
extern const unsigned char TGAHDR[12];

/// Keeps the image in memory (8-bit RGB, optionally an 8-bit alpha plane) and
/// writes it as an uncompressed 24-bit (or 32-bit with alpha) top-left-origin
/// TGA file on flush(). Pixels never delivered are black with alpha 0.
/// Not copyable: it owns its buffers.
class outTga_t : public colorOutput_t {
public:
    /// Allocates and clears the buffers (resx * resy pixels; a size <= 0
    /// gives an empty image) and copies the file name. An allocation failure
    /// prints a message on standard output and ends the process (status 1).
    outTga_t(int resx, int resy, const char* fname, bool saveAlpha);
    ~outTga_t() override;
    outTga_t(const outTga_t&) = delete;
    outTga_t& operator=(const outTga_t&) = delete;

    /// Stores the colour (clipped to [0, 1], times 255, truncated) and, with
    /// alpha saving, the alpha byte (0 below 0, min(alpha, 1) * 255 truncated).
    /// Depth is ignored. A pixel outside the image is ignored. Always true.
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override;
    /// savetga(outfile); may be called repeatedly, each call rewrites the file.
    bool flush() override;
    /// Writes the image to `name`, printing "Saving Targa file as <name>" and,
    /// on success, "OK" on standard output. Returns false, leaving the image
    /// in memory, when the file cannot be opened, a write or the close fails
    /// (a full disk), or a size does not fit the format's 16-bit fields
    /// (0 .. 65535; then no file is created and a line goes to stderr).
    bool savetga(const char* name);

    bool saveAlpha;
    unsigned char* data;
    unsigned char* alphaBuffer;
    int sizex;
    int sizey;
    std::string outfile;
};

} // namespace vexlar

#endif
