// The program's colour pipeline: from the colours the renderer delivers to
// the values stored in an image file.
//
// The renderer hands over every pixel after the library's own exposure and
// gamma (render.exposure and render.gamma, which also clamp each channel to
// [0, 1]). The program then works on each colour channel x (alpha stays
// linear and is only quantised):
//  1. exposure in photographic stops: x * 2^stops (output.exposure);
//  2. a tone map into [0, 1] (output.tonemap):
//       clamp     min(max(x, 0), 1)
//       reinhard  x / (1 + x), Reinhard et al. 2002, global operator without
//                 a white point
//       filmic    the fit of the ACES reference rendering and sRGB output
//                 transforms by K. Narkowicz ("ACES Filmic Tone Mapping
//                 Curve", 2016): x (2.51 x + 0.03) / (x (2.43 x + 0.59) + 0.14),
//                 clamped to [0, 1]; applied without a pre-exposure, so
//                 f(1) = 0.8038 and f(0.18) = 0.2669
//  3. a transfer curve (output.color):
//       srgb      the standard sRGB curve (IEC 61966-2-1): 12.92 v up to
//                 0.0031308, 1.055 v^(1/2.4) - 0.055 above
//       linear    v unchanged
//       gamma g   v^(1/g), a display gamma in the usual sense (2.2 brightens)
//  4. quantisation to the file's bits, rounded to nearest:
//     round(v * (2^bits - 1)).
// Files of floating-point values (.exr, .hdr, .pfm) store the linear value
// after step 1 and skip steps 2 to 4. Not-a-number becomes 0 everywhere.
#ifndef VEXLAR_HOST_OUTPUTCOLOR_H
#define VEXLAR_HOST_OUTPUTCOLOR_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/floatimage.h"
#include "vexlarcore/buffer.h"

namespace vexlar {
namespace host {

enum class transfer_t { srgb, linear, gamma };
enum class toneMap_t { clamp, reinhard, filmic };

/// output.color, output.exposure, output.tonemap.
struct outputColor_t {
    transfer_t transfer = transfer_t::srgb;
    /// The display gamma (> 0) of transfer_t::gamma.
    float displayGamma = 2.2f;
    /// Photographic stops; 0 leaves the colours alone.
    float exposure = 0.0f;
    toneMap_t toneMap = toneMap_t::clamp;
};

/// The sRGB curve of a linear value in [0, 1] (values outside are clamped).
float srgbEncode(float v);
/// Step 2 for one channel value x >= 0; the result lies in [0, 1].
float applyToneMap(toneMap_t op, float x);
/// Step 3 for one value in [0, 1].
float applyTransfer(const outputColor_t& c, float v);
/// round(v * maxCode), v clamped to [0, 1] (not-a-number as 0).
std::uint32_t quantise(float v, std::uint32_t maxCode);

/// Steps 1 to 3 (or step 1 alone) with the exposure factor worked out once.
class colorPipeline_t {
public:
    explicit colorPipeline_t(const outputColor_t& c);
    /// Steps 1 to 3: the display value in [0, 1] of one colour channel.
    float display(float x) const;
    /// Step 1: the linear value (>= 0) of one colour channel.
    float linear(float x) const;

private:
    outputColor_t c;
    float scale;
};

/// The picture as 8-bit RGBA file values (alpha quantised linearly).
void encode8(const floatImage_t& image, const outputColor_t& c, cBuffer_t& out);
/// The picture as 16-bit RGBA file values, four a pixel, rows from the top.
void encode16(const floatImage_t& image, const outputColor_t& c, std::vector<std::uint16_t>& out);
/// The picture as linear values after the exposure; alpha copied (clamped
/// to [0, 1]). With `premultiply` the colour is multiplied by alpha.
floatImage_t encodeLinear(const floatImage_t& image, const outputColor_t& c, bool premultiply);

/// "srgb", "linear", "gamma 2.2"; "clamp", "reinhard", "filmic".
std::string transferName(const outputColor_t& c);
const char* toneMapName(toneMap_t op);

} // namespace host
} // namespace vexlar

#endif
