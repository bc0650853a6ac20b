// Checks of the files a scene names (scene descriptions, meshes) made
// before they are opened: only regular files are read, and only up to a
// size limit, so that a folder, a device such as /dev/zero, a FIFO that
// would block forever or a file larger than memory gives a clear error.
#ifndef VEXLAR_HOST_FILECHECK_H
#define VEXLAR_HOST_FILECHECK_H

#include <cstdint>
#include <string>

namespace vexlar {
namespace host {

/// The largest scene description read (its text is held whole).
constexpr std::uint64_t maxSceneFileBytes = std::uint64_t(1) << 30;

/// The largest mesh file read: the machine's memory (a mesh takes about as
/// much memory as its text), 16 GiB when that is unknown.
std::uint64_t maxMeshFileBytes();

/// "" when `path` names a regular file (symbolic links followed) of at most
/// `maxBytes` bytes; otherwise the reason ("it is a folder", "not a regular
/// file (a FIFO)", "the file has 2.0 GiB, more than the 1.0 GiB read", or
/// the system's reason it cannot be reached).
std::string inputFileFault(const std::string& path, std::uint64_t maxBytes);

} // namespace host
} // namespace vexlar

#endif
