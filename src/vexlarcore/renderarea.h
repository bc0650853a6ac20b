// Render blocks: splitting the image, per-block buffers, adaptive resampling
// flags and the hand-over of finished blocks to a colour output.
//
// The image is cut into square blocks. Each block gets a one-pixel border
// towards its neighbours (where there is room) so that the resampling test
// can compare a block's edge pixels with the next block's, leaving no seams.
// Only the block proper, without its border, is handed to the output.
#ifndef VEXLARCORE_RENDERAREA_H
#define VEXLARCORE_RENDERAREA_H

#include "vexlarcore/color.h"

#include <vector>

namespace vexlar {

class colorOutput_t;

/// Working buffers of one block. One area is reused for all blocks of a
/// render pass: its buffers are resized in place and never shrunk to fit, so
/// after the largest block no allocation happens.
///
/// Buffers cover the bordered rectangle (X, Y, W, H), row-major: the pixel at
/// image position (x, y) has index (y - Y) * W + (x - X). checkResample and
/// out expect each buffer to hold at least W * H entries, as getArea (and the
/// scene's block renderer) leave them; an area shaped by hand must be sized
/// the same way first.
class renderArea_t {
public:
    renderArea_t() : X(0), Y(0), W(0), H(0), realX(0), realY(0), realW(0), realH(0) {}

    /// Sets every resample flag of the bordered rectangle: a pixel is flagged
    /// when the weighted colour difference (0.299 |dR| + 0.587 |dG| +
    /// 0.114 |dB|, alpha ignored) to at least one of its eight neighbours,
    /// clamped to the rectangle, is >= threshold. Returns true when at least
    /// one flag was set. With threshold <= 0 every pixel is flagged.
    bool checkResample(float threshold);

    /// Hands the block proper to `output`, column by column (x outer, y
    /// inner), with image coordinates, colour, alpha and depth. Stops at the
    /// first pixel the output refuses and returns false; true otherwise.
    bool out(colorOutput_t& output);

    /// Bordered rectangle, in image pixels.
    int X, Y, W, H;
    /// Block proper, in image pixels.
    int realX, realY, realW, realH;
    /// Colour and alpha per pixel.
    std::vector<colorA_t> image;
    /// Depth per pixel (-1 where nothing was hit).
    std::vector<float> depth;
    /// Resample flag per pixel, as packed bits.
    std::vector<bool> resample;
};

/// Cuts a width x height image into blockSize blocks and hands them out in a
/// shuffled order. The shuffle draws from the standard rand(), so a host that
/// seeds srand() before construction gets a reproducible order.
///
/// A width, height or block size of 0 or less gives a splitter without
/// blocks (empty() is true at once) and draws nothing from rand().
class blockSpliter_t {
public:
    /// One block: its bordered rectangle and the block proper.
    struct region_t {
        int X, Y, W, H;
        int realX, realY, realW, realH;
    };

    blockSpliter_t(int width, int height, int blockSize);

    /// True when every block has been handed out.
    bool empty() const { return regions.empty(); }

    /// Moves the next block into `area`: sets its rectangles and resizes its
    /// buffers to the bordered size (new pixels transparent black, depth 0,
    /// flag clear; existing contents are kept, not cleared). On an empty
    /// splitter it leaves `area` untouched.
    void getArea(renderArea_t& area);

    int width;
    int height;
    int blockSize;
    /// Blocks not yet handed out; the next one is the last element.
    std::vector<region_t> regions;
};

} // namespace vexlar

#endif
