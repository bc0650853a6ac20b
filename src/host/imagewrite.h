// Writing the finished image in the format its file name's extension names:
// PNG (8 or 16 bits, through libpng, tagged with its colour encoding), TGA
// (8 bits, the library's writer), OpenEXR (half or float RGBA and a Z
// channel, when built with OpenEXR), Radiance RGBE and portable float maps.
// Every file is written atomically: to a temporary file in the target's
// folder, renamed over the target only once it is complete, so that a failed
// or interrupted run never leaves a truncated image or clobbers an earlier one.
#ifndef VEXLAR_HOST_IMAGEWRITE_H
#define VEXLAR_HOST_IMAGEWRITE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/floatimage.h"
#include "host/outputcolor.h"
#include "vexlarcore/buffer.h"

namespace vexlar {
namespace host {

enum class imageFormat_t { png, tga, exr, hdr, pfm, unknown };

/// What the program knows about one output format.
struct formatInfo_t {
    imageFormat_t format;
    /// ".png"
    const char* extension;
    /// One line for --list-formats.
    const char* summary;
    /// The values output.bits may take; the first is the default.
    std::vector<int> bits;
    /// Stores linear floating-point values (no tone map, transfer or rounding).
    bool floatingPoint;
    bool hasAlpha;
    /// Part of this build (EXR needs OpenEXR).
    bool available;
};

/// Every format, in the order --list-formats shows them.
const std::vector<formatInfo_t>& imageFormats();
/// The entry of `format`; null for imageFormat_t::unknown.
const formatInfo_t* formatInfo(imageFormat_t format);
/// The format named by the file's extension (any letter case).
imageFormat_t formatOf(const std::string& path);
/// "use a .png, .tga, .exr, .hdr or .pfm file name" (the formats of this build).
std::string formatAdvice();
/// The text of --list-formats.
std::string formatListText();

/// The output settings besides the file's name.
struct outputSettings_t {
    outputColor_t color;
    /// Bits per channel; 0 takes the format's default.
    int bits = 0;
    bool alpha = false;
    /// output.color or output.tonemap were set (they do not apply to files
    /// of linear floating-point values).
    bool colorSet = false;
};

/// Whether `path` can be written with `settings`: a known format of this
/// build that holds `bits`. False with the reason (naming the file).
/// `notes` receives the settings that will be ignored (alpha in a format
/// without it, colour settings for linear files), one warning line each.
bool checkOutput(const std::string& path, const outputSettings_t& settings, std::string& error,
                 std::vector<std::string>& notes);

/// "render.partial.png" for "render.png": where an interrupted render goes.
std::string partialName(const std::string& path);

/// A temporary file beside a target, renamed over it by commit(). The
/// temporary file is removed if the object goes away uncommitted. A target
/// that is a device or a FIFO (/dev/null, /dev/full, /dev/stdout) is written
/// in place instead: tempPath() is then the target itself.
class atomicFile_t {
public:
    atomicFile_t() = default;
    ~atomicFile_t();
    atomicFile_t(const atomicFile_t&) = delete;
    atomicFile_t& operator=(const atomicFile_t&) = delete;

    /// Creates the temporary file (permissions as for a new file under the
    /// process umask). False with the reason when the folder is not writable.
    bool open(const std::string& target, std::string& error);
    const std::string& tempPath() const { return temp; }
    /// Flushes the temporary file to disk and renames it over the target.
    bool commit(std::string& error);
    /// Removes the temporary file now.
    void discard();

private:
    bool openInPlace(std::string& error);

    std::string target;
    std::string temp;
    int fd = -1;
    bool inPlace = false; // a device or FIFO written directly (tempPath() is the target)
};

/// Writes 8-bit RGB (or RGBA with `alpha`) PNG data of `image` to `out`;
/// with `tag` the file says how its values are encoded (the sRGB chunk, or
/// a gAMA chunk for linear and gamma files). False with libpng's reason.
bool writePng(std::FILE* out, const cBuffer_t& image, bool alpha, std::string& error,
              const outputColor_t* tag = nullptr);
/// The same with 16-bit samples (`rgba`: four a pixel, rows from the top).
bool writePng16(std::FILE* out, const std::vector<std::uint16_t>& rgba, int width, int height, bool alpha,
                const outputColor_t& tag, std::string& error);

/// Writes 8-bit file values to the temporary file of `file` as PNG or TGA
/// (the bytes are stored as they are; PNG files untagged unless `tag`).
bool writeImageTo(atomicFile_t& file, const cBuffer_t& image, imageFormat_t format, bool alpha,
                  std::string& error, const outputColor_t* tag = nullptr);

/// Turns the rendered picture into the file values of `format` and writes
/// them to the temporary file of `file`. `depth` (may be null) becomes the Z
/// channel of EXR files. The settings must have passed checkOutput.
bool writeImageTo(atomicFile_t& file, imageFormat_t format, const floatImage_t& image, const fBuffer_t* depth,
                  const outputSettings_t& settings, std::string& error);

/// Opens a temporary file beside `path`, writes 8-bit PNG or TGA bytes and
/// commits. The message in `error` names the file.
bool saveImage(const std::string& path, const cBuffer_t& image, bool alpha, std::string& error);
/// The same for a rendered picture in any format (see writeImageTo).
bool saveImage(const std::string& path, const floatImage_t& image, const fBuffer_t* depth,
               const outputSettings_t& settings, std::string& error);

} // namespace host
} // namespace vexlar

#endif
