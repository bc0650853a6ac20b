// Limits the program checks before it allocates or starts work: image size,
// the memory an image needs, the number of anti-aliasing samples.
#ifndef VEXLAR_HOST_LIMITS_H
#define VEXLAR_HOST_LIMITS_H

#include <cstdint>
#include <string>

namespace vexlar {
namespace host {

/// The largest width or height of an image, in pixels.
constexpr int maxImageSide = 65535;

/// Anti-aliasing: the most samples of one pass, and of all passes together
/// (passes * samples), for one pixel.
constexpr int maxSamplesPerPass = 1024;
constexpr int maxSamplesPerPixel = 16384;

/// Bytes the program holds for every pixel of the image: the colour as
/// four floats and the depth (the render's sink), a colour-converted copy
/// and the encoded file values while writing. Each post filter adds a
/// working copy of colour and depth.
constexpr std::uint64_t bytesPerPixel = 16 + 4 + 16 + 8;
constexpr std::uint64_t bytesPerPixelPerFilter = 16 + 4;

/// The estimate of the memory a `width` x `height` image with `filters`
/// post filters needs, in bytes.
std::uint64_t imageMemoryEstimate(int width, int height, int filters);

/// The machine's physical memory in bytes (0 when unknown).
std::uint64_t physicalMemory();

/// "" when the image fits in `available` bytes (0: unknown, always fits);
/// otherwise the reason, saying how much it would take.
std::string imageMemoryFault(int width, int height, int filters, std::uint64_t available);

/// "12.5 GiB", "300 MiB", "512 bytes".
std::string byteText(std::uint64_t bytes);

} // namespace host
} // namespace vexlar

#endif
