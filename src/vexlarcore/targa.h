// Truevision TGA reader: loads a file into an RGBA colour buffer (row 0 at
// the top of the picture) and answers colour look-ups by pixel position.
//
// Accepted: image types 1 (colour-mapped), 2 (true colour), 3 (greyscale)
// and their run-length forms 9, 10, 11; pixel depths 8, 15, 16, 24 and 32
// bits; colour-map entries of 15, 16, 24 and 32 bits; both orientation bits
// of the image descriptor (bit 5 set: first row is the top; bit 4 set: rows
// run right to left). Multi-byte numbers are little-endian.
//
// Decoding, per pixel:
//  - 1 byte:  grey (R = G = B = byte; A = byte when the descriptor has 8
//             alpha bits) or a colour-map index;
//  - 2 bytes: 5-5-5 colour from (lo, hi), each channel v*255/31 truncated,
//             A = hi & 128 when the descriptor has 1 alpha bit; or a
//             colour-map index lo + 256*hi;
//  - 3 bytes: B, G, R;
//  - 4 bytes: B, G, R, A (A used only when the descriptor has alpha bits).
//  Without alpha, A is 255. Colour-mapped pixels take R, G, B, A of their
//  entry: 15/16-bit entries as the 2-byte colour above (A = hi & 128 for
//  16-bit entries, 0 for 15-bit ones), 24-bit entries B, G, R with A = 0,
//  32-bit entries B, G, R, A. The first-entry field of the header is not
//  applied: file entry k is entry k.
//
// Untrusted files are handled safely; every malformed file gives false with
// a text in `error` and nothing is read or written outside a buffer:
//  - a header shorter than 18 bytes, a file ending anywhere inside the
//    colour map or the pixel data (raw rows, run-length packet headers and
//    packet contents alike), and a run-length packet reaching past the last
//    pixel: "Corrupted or unexpected end of file";
//  - a colour-map index at or beyond the colour-map length:
//    "Colormap index out of range";
//  - a pixel depth other than 8, 15, 16, 24 or 32 bits (after the type and
//    format checks below): "Unsupported pixel depth";
//  - an image of more than INT_MAX bytes (width * height * 4), which the
//    int-sized buffers cannot address: "Image too large".
// Besides those, the type and format checks give, in this order:
// "Colormap image without colormap??", "Unsupported colormap bitformat",
// "Targa type not supported", "Unsupported grayscale image format",
// "24/32 bit colormap index???", "Unsupported alpha format"; a file that
// cannot be opened gives "Cannot open file". Success sets "No errors".
//
// Format details chosen here:
//  - 15-bit pixels occupy two bytes, as the TGA format stores them
//    (`bytesPerPixel` is the depth rounded up to whole bytes).
//  - A true-colour or greyscale file that carries a colour map (colour-map
//    type non-zero) has its map skipped, so its pixels decode correctly.
//  - 32-bit pixels always take four bytes from the file, with or without
//    alpha bits, so run-length and raw files decode alike.
//  - Truncation is detected before the image is allocated whenever the file
//    size is known, so a short file with a huge header allocates nothing.
//
// State: a reader may Load several times. A file that cannot be opened, or
// one rejected by the type, format, depth or size checks, keeps the previous
// image. Every "Corrupted or unexpected end of file" failure (wherever the
// file ends, even within the header) and a bad colour-map index free it
// (`image` null), as a read error while decoding does. Not thread-safe;
// concurrent look-ups on a loaded reader are fine.
#ifndef VEXLARCORE_TARGA_H
#define VEXLARCORE_TARGA_H

#include "vexlarcore/buffer.h"
#include "vexlarcore/color.h"

#include <cstdio>
#include <string>

namespace vexlar {

class targaImg_t {
public:
    targaImg_t();
    ~targaImg_t();
    targaImg_t(const targaImg_t&) = delete;
    targaImg_t& operator=(const targaImg_t&) = delete;

    /// Reads the file `name`; true on success. `error` holds the result text
    /// either way.
    bool Load(const char* name);

    /// The colour at (x, y), y = 0 the top row (bytes unpacked as floats);
    /// black when nothing is loaded or (x, y) lies outside the image.
    color_t operator()(int x, int y) const;

    /// Decodes one pixel into `pixel`, from the bytes at `src`, or from the
    /// open file when `src` is null. False when the file ends before the
    /// pixel is complete or a colour-map index lies outside the map (then
    /// `pixel` is unspecified).
    bool getColor(unsigned char* src);

    /// Frees the image, closes the file, sets `error` to
    /// "Corrupted or unexpected end of file" and returns false.
    bool readError();

    std::FILE* file;
    std::string error;
    unsigned char alphaBits;
    unsigned char bytesPerPixel;
    bool hasAlpha;
    bool greyscale;
    bool colorMapped;
    unsigned short width, height;
    cBuffer_t* image;
    unsigned char* colorMap;
    unsigned char pixel[4];

private:
    // Sets `error`, closes the file; frees the image when `dropImage`.
    bool fail(const char* text, bool dropImage);
    // Number of colour-map entries held in `colorMap`.
    unsigned int mapLength;
};

} // namespace vexlar

#endif
