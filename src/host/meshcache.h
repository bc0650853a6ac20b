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
//
// An entry also keeps what the first look at the file reported (its
// warnings, its smoothing groups, whether its faces name materials), so that
// a mesh served from the cache says what reading its file says without that
// look, which would read the whole file once more.
#ifndef VEXLAR_HOST_MESHCACHE_H
#define VEXLAR_HOST_MESHCACHE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

/// What the first look at a mesh file found beyond its triangles.
struct meshFileNotes_t {
    /// One line each, as reported ("line 7: ...").
    std::vector<std::string> warnings;
    /// Line of the first "s" statement that turns smoothing on (0: none).
    std::uint64_t smoothLine = 0;
    /// Whether faces name materials ("usemtl").
    bool namesMaterials = false;
};

/// What an entry holds: the mesh as read from the file (object space),
/// when `tree.nodes` is not empty its tree, and the notes of its file.
struct meshCacheEntry_t {
    meshData_t data;
    meshTree_t tree;
    meshFileNotes_t notes;
};

/// Reads the entry of `key`; false (with `why` saying what was wrong, ""
/// when there simply is none) when there is no usable entry.
bool readMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                   meshCacheEntry_t& entry, std::string& why);

/// Writes the entry of `key` for `data`, `tree` (the compact tree of the
/// built mesh; empty for none) and `notes`. False, with the reason, when it
/// cannot be written; a failed write leaves no file behind.
bool writeMeshCache(const meshCacheSettings_t& settings, const std::array<std::uint64_t, 2>& key,
                    const meshData_t& data, const meshTree_t& tree, const meshFileNotes_t& notes,
                    std::string& why);

} // namespace host
} // namespace vexlar

#endif
