// The mesh cache: a mesh read from an OBJ file is kept, with its partition
// tree, in a cache folder, so that the next render of the same mesh skips
// parsing and building.
//
// An entry is found by a key made of everything that decides what is built:
// the bytes of the mesh file (an XXH3 hash), the placement matrix (the tree
// is built in world space) and the version of the entry format and of the
// tree rules. Entries are written to a temporary file and renamed into place,
// so a reader never sees half an entry. Reading checks the header (magic,
// format version, key, the sizes of every array against the file size), a
// checksum over the contents and every index, and the mesh checks the tree's
// structure again; anything that fails means "not cached": the mesh is built
// from the file as if there were no cache (and the entry rewritten).
//
// Meshes of fewer than `minTriangles` triangles are not cached: they build
// faster than an entry is checked.
#ifndef VEXLAR_HOST_MESHCACHE_H
#define VEXLAR_HOST_MESHCACHE_H

#include <array>
#include <cstdint>
#include <string>

#include "host/meshload.h"
#include "vexlarcore/matrix4.h"
#include "vexlarcore/meshtree.h"

namespace vexlar {
namespace host {

/// Where the cache lives: `folder` ("" = off).
struct meshCacheSettings_t {
    std::string folder;
    /// Smallest mesh worth caching.
    std::size_t minTriangles = 10000;
};

/// The default folder: $VEXLAR_MESH_CACHE when set ("off" or "" switch the
/// cache off), else $XDG_CACHE_HOME/vexlar/meshes, else
/// $HOME/.cache/vexlar/meshes, else off.
std::string defaultMeshCacheFolder();

/// The key of a mesh file's contents under `placement`; false when the file
/// cannot be read.
bool meshCacheKey(const std::string& meshPath, const matrix4x4_t& placement,
                  std::array<std::uint64_t, 2>& key);

/// What an entry holds: the mesh as read from the file (object space) and,
/// when `tree.nodes` is not empty, its tree.
struct meshCacheEntry_t {
    meshData_t data;
    meshTree_t tree;
};

/// Reads the entry of `key`; false (with `why` saying what was wrong, ""
/// when there simply is none) when there is no usable entry.
bool readMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                   meshCacheEntry_t& entry, std::string& why);

/// Writes the entry of `key` for `data` and `tree` (the compact tree of the
/// built mesh; empty for none). False, with the reason, when it cannot be
/// written; a failed write leaves no file behind.
bool writeMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                    const meshData_t& data, const meshTree_t& tree, std::string& why);

} // namespace host
} // namespace vexlar

#endif
