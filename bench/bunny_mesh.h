// The benchmark model: the Stanford bunny (Stanford 3D Scanning Repository),
// 3,674 triangles, refined by midpoint subdivision (each triangle split into
// four): two rounds give 58,784 triangles, three 235,136.
//
// The file is read from scenes/bunny.obj in the source tree, or else from the
// shared data directory of the build machine.
#ifndef VEXLAR_BENCH_BUNNY_MESH_H
#define VEXLAR_BENCH_BUNNY_MESH_H

#include "vexlarcore/mesh.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace bench {

struct indexedMesh_t {
    std::vector<vexlar::point3d_t> points;
    std::vector<int> indices; // three per triangle
};

// A minimal OBJ reader: 'v x y z' and 'f a b c ...' lines (only the vertex
// index of "a/t/n" is used; negative indices count from the end; polygons
// are fanned into triangles). Everything else is ignored. False for a file
// that cannot be read, has no faces or refers to a missing vertex.
inline bool readObj(const std::string& path, indexedMesh_t& out) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string tag;
        ls >> tag;
        if (tag == "v") {
            float x, y, z;
            if (ls >> x >> y >> z) out.points.push_back(vexlar::point3d_t(x, y, z));
        } else if (tag == "f") {
            std::vector<int> face;
            std::string tok;
            while (ls >> tok) {
                const int i = std::atoi(tok.c_str());
                if (i == 0) return false;
                face.push_back(i > 0 ? i - 1 : static_cast<int>(out.points.size()) + i);
            }
            for (std::size_t k = 2; k < face.size(); ++k) {
                out.indices.push_back(face[0]);
                out.indices.push_back(face[k - 1]);
                out.indices.push_back(face[k]);
            }
        }
    }
    for (int i : out.indices)
        if (i < 0 || i >= static_cast<int>(out.points.size())) return false;
    return !out.indices.empty();
}

// One round of midpoint subdivision; edge midpoints are shared, so the
// refined mesh stays connected (and smooths like the original).
inline indexedMesh_t subdivide(const indexedMesh_t& m) {
    indexedMesh_t out;
    out.points = m.points;
    std::unordered_map<std::uint64_t, int> mids;
    auto midpoint = [&](int a, int b) {
        const std::uint64_t key =
            (static_cast<std::uint64_t>(std::min(a, b)) << 32) | static_cast<std::uint64_t>(std::max(a, b));
        auto it = mids.find(key);
        if (it != mids.end()) return it->second;
        const vexlar::point3d_t p = out.points[a];
        const vexlar::point3d_t q = out.points[b];
        out.points.push_back(vexlar::point3d_t((p.x + q.x) * 0.5f, (p.y + q.y) * 0.5f, (p.z + q.z) * 0.5f));
        const int idx = static_cast<int>(out.points.size()) - 1;
        mids.emplace(key, idx);
        return idx;
    };
    for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
        const int a = m.indices[t], b = m.indices[t + 1], c = m.indices[t + 2];
        const int ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
        const int tris[4][3] = {{a, ab, ca}, {ab, b, bc}, {ca, bc, c}, {ab, bc, ca}};
        for (const auto& tri : tris) out.indices.insert(out.indices.end(), tri, tri + 3);
    }
    return out;
}

// The bunny after `rounds` subdivisions, read once per process and cached;
// null when no copy of the file can be read.
inline const indexedMesh_t* bunny(int rounds) {
    static std::map<int, indexedMesh_t> cache;
    auto it = cache.find(rounds);
    if (it != cache.end()) return &it->second;
    indexedMesh_t m;
    const std::string paths[] = {std::string(VEXLAR_SOURCE_DIR) + "/scenes/bunny.obj",
                                 "/work/shared/peers/data/bunny.obj"};
    bool found = false;
    for (const std::string& p : paths) {
        m = indexedMesh_t();
        if ((found = readObj(p, m))) break;
    }
    if (!found) return nullptr;
    for (int r = 0; r < rounds; ++r) m = subdivide(m);
    return &cache.emplace(rounds, std::move(m)).first->second;
}

// A flat mesh of `m` (no normals, texture coordinates or colours); the caller
// owns it.
inline vexlar::meshObject_t* makeMesh(const indexedMesh_t& m) {
    std::vector<vexlar::point3d_t> pts = m.points;
    std::vector<vexlar::triangle_t> ts;
    ts.reserve(m.indices.size() / 3);
    for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3)
        ts.emplace_back(&pts[m.indices[t]], &pts[m.indices[t + 1]], &pts[m.indices[t + 2]]);
    return vexlar::meshObject_t::factory(pts, {}, ts, {}, {});
}

} // namespace bench

#endif
