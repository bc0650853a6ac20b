// Post-process filters that the host runs over a finished image: a
// depth-of-field blur driven by the depth buffer and an anti-noise filter
// that averages similar neighbours.
//
// Both rewrite the colour buffer in place (through a temporary buffer that is
// assigned back at the end), compute only R, G and B of each pixel and keep
// every pixel's alpha byte as it was. Both print their progress on standard
// output with printf, flushing after each update:
//   DOF:        "Applying DOF filter ... ", then
//               "\rApplying DOF filter [ %d / %d ] ...   " once per pass and
//               once more with passes / passes, then "OK\n";
//   anti-noise: "Applying AntiNoise filter ... ", then
//               "\rApplying AntiNoise filter [ %d / %d ] ...   " once per row
//               and once more with height / height, then "OK\n".
// The filters hold only their parameters; apply is const and may run any
// number of times. Allocation failure of the temporary buffer prints
// "Error allocating memory in cBuffer\n" on standard error and exits with
// status 1.
#ifndef VEXLARCORE_FILTER_H
#define VEXLARCORE_FILTER_H

#include "vexlarcore/buffer.h"
#include "vexlarcore/color.h"

namespace vexlar {

/// A post filter, created by the host and handed to the scene by pointer.
class filter_t {
public:
    virtual ~filter_t();
    /// Rewrites `image` (RGBA bytes) in place. `depth` holds one depth per
    /// pixel of the same size; `other` is a spare float buffer that the
    /// library's filters do not use.
    virtual void apply(cBuffer_t& image, fBuffer_t& depth, fBuffer_t& other) const = 0;
};

/// Depth of field: each pass box-blurs (3 x 3) the pixels whose blur radius
/// r = b * (|z - focus| - 0.1 * focus * scale) / focus has reached the pass
/// number, b being `nearBlur` in front of the focus depth and `farBlur` at
/// or behind it. Neighbours more than 0.1 * focus nearer than the pixel are
/// left out of its blur. The number of passes is max(nearBlur, farBlur)
/// truncated. Pixels within 0.1 * focus * scale of the focus stay sharp.
///
/// The image and depth buffers are expected to have the same size. If they
/// differ, only the pixels inside both are visited (nothing is read outside
/// either buffer) and the final assignment prints the buffers' size message
/// and leaves the image unchanged.
class filterDOF_t : public filter_t {
public:
    filterDOF_t(float nearBlur, float farBlur, float focus, float scale)
        : nearBlur(nearBlur), farBlur(farBlur), focus(focus), scale(scale) {}
    void apply(cBuffer_t& image, fBuffer_t& depth, fBuffer_t& other) const override;

    float nearBlur;
    float farBlur;
    float focus;
    float scale;
};

/// Anti-noise: each pixel becomes the mean of the pixels within the diamond
/// |i - x| + |j - y| <= (int)|radius| whose largest channel difference from
/// it (on the 0..1 scale) is below `maxDelta`. The pixel itself always
/// qualifies when maxDelta > 0. With maxDelta <= 0 (or NaN) no neighbour can
/// qualify and the pixel is kept unchanged.
class filterAntiNoise_t : public filter_t {
public:
    filterAntiNoise_t(float radius, float maxDelta) : radius(radius), maxDelta(maxDelta) {}
    void apply(cBuffer_t& image, fBuffer_t& depth, fBuffer_t& other) const override;

    float radius;
    float maxDelta;
};

/// Mean colour of the square window of half-size (int)radius around (x, y),
/// clipped to the image (and to the depth buffer), over the pixels whose
/// depth is not nearer than z - threshold. With a single qualifying pixel the
/// result is that pixel; with none it is black.
color_t mix_circle(cBuffer_t& image, fBuffer_t& depth, float z, int x, int y, float radius, float threshold);

} // namespace vexlar

#endif
