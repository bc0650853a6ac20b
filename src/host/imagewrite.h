// Writing the finished image: PNG through libpng, TGA through the library's
// writer, always atomically (a temporary file in the target's folder,
// renamed over the target only once it is complete), so that a failed or
// interrupted run never leaves a truncated image or clobbers an earlier one.
#ifndef VEXLAR_HOST_IMAGEWRITE_H
#define VEXLAR_HOST_IMAGEWRITE_H

#include <cstdio>
#include <string>

#include "vexlarcore/buffer.h"

namespace vexlar {
namespace host {

enum class imageFormat_t { png, tga, unknown };

/// The format named by the file's extension (".png", ".tga", any letter case).
imageFormat_t formatOf(const std::string& path);

/// "render.partial.png" for "render.png": where an interrupted render goes.
std::string partialName(const std::string& path);

/// A temporary file beside a target, renamed over it by commit(). The
/// temporary file is removed if the object goes away uncommitted.
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
    std::string target;
    std::string temp;
    int fd = -1;
};

/// Writes 8-bit RGB (or RGBA with `alpha`) PNG data of `image` to `out`.
/// False with libpng's reason on failure.
bool writePng(std::FILE* out, const cBuffer_t& image, bool alpha, std::string& error);

/// Writes `image` to the temporary file of `file` in `format` (the TGA
/// writer prints its "Saving Targa file as ..." line on standard output).
bool writeImageTo(atomicFile_t& file, const cBuffer_t& image, imageFormat_t format, bool alpha,
                  std::string& error);

/// Opens a temporary file beside `path`, writes and commits. The message in
/// `error` names the file.
bool saveImage(const std::string& path, const cBuffer_t& image, bool alpha, std::string& error);

} // namespace host
} // namespace vexlar

#endif
