// The pixel sink of the vexlar program: keeps the finished pixels as RGBA
// floats (as the renderer delivered them; the program's colour pipeline
// turns them into file values later) with, when asked for, a depth per
// pixel, only inside the rendered rectangle, and refuses pixels once a stop
// was requested.
#ifndef VEXLAR_HOST_IMAGESINK_H
#define VEXLAR_HOST_IMAGESINK_H

#include <csignal>
#include <cstddef>

#include "host/floatimage.h"
#include "host/sceneloader.h"
#include "vexlarcore/buffer.h"
#include "vexlarcore/output.h"

namespace vexlar {
namespace host {

/// Depth stored for a pixel where nothing was hit. The library reports -1;
/// the depth-of-field filter would take that for a point just in front of
/// the camera, so the sink stores a far distance instead.
constexpr float noHitDepth = 1e30f;

/// A page-aligned stretch of a buffer (empty when `bytes` is 0).
struct pageSpan_t {
    void* begin = nullptr;
    std::size_t bytes = 0;
};

class imageSink_t : public colorOutput_t {
public:
    /// A black, fully transparent `width` x `height` image (both >= 1).
    /// Only pixels inside `keep` are stored: outside a render region the
    /// renderer hands over whatever its block buffers held. `stop` may be
    /// null; when it points at a non-zero value, putPixel refuses.
    /// The buffers are not copied into processes forked while the sink
    /// lives (they see zeros there; the render workers never read them), so
    /// that writing the picture during a forked render costs no page copies.
    /// The buffers must keep their size while the sink lives. Without
    /// `keepDepth` (a picture whose filters and file do not use the depth)
    /// `depth` is a single unused value, saving four bytes a pixel.
    imageSink_t(int width, int height, const pixelRect_t& keep, const volatile std::sig_atomic_t* stop,
                bool keepDepth = true);
    ~imageSink_t() override;
    imageSink_t(const imageSink_t&) = delete;
    imageSink_t& operator=(const imageSink_t&) = delete;

    /// Stores the colour (negative channels and not-a-number as 0, an
    /// infinite channel as the largest float), the alpha clamped to [0, 1],
    /// and the depth. False, storing nothing, once a
    /// stop was requested. Pixels outside the image or `keep` are ignored.
    bool putPixel(int x, int y, const color_t& c, float alpha, float depth) override;
    /// Nothing to make durable: the program writes the image itself.
    bool flush() override { return true; }

    /// True when putPixel refused a pixel.
    bool aborted() const { return refused; }
    /// Number of pixels stored.
    std::size_t stored() const { return count; }
    /// The depths of the picture, or null when they are not kept.
    const fBuffer_t* depths() const { return keptDepth ? &depth : nullptr; }

    floatImage_t colour;
    /// Depth per pixel (noHitDepth where nothing was hit); 1 x 1 and unused
    /// when not kept.
    fBuffer_t depth;

private:
    pixelRect_t keep;
    const volatile std::sig_atomic_t* stop;
    bool refused = false;
    bool keptDepth;
    std::size_t count = 0;
    /// The stretches marked wipe-on-fork (colour, depth).
    pageSpan_t spans[2];
};

} // namespace host
} // namespace vexlar

#endif
