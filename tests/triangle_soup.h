// Triangle soups for the partition-tree tests: triangles over consecutive
// point triples, a list of them for the builder, and the nearest hit found
// by trying every triangle.
#ifndef VEXLAR_TESTS_TRIANGLE_SOUP_H
#define VEXLAR_TESTS_TRIANGLE_SOUP_H

#include "vexlarcore/mesh.h"

#include <vector>

namespace soup {

using namespace vexlar;

inline std::vector<triangle_t> tripleTriangles(std::vector<point3d_t>& pts) {
    std::vector<triangle_t> ts;
    for (std::size_t i = 0; i + 2 < pts.size(); i += 3) ts.emplace_back(&pts[i], &pts[i + 1], &pts[i + 2]);
    return ts;
}

/// A new list (the tree builder takes it over) of pointers to `ts`.
inline triangleList_t* listOf(std::vector<triangle_t>& ts) {
    auto* l = new triangleList_t();
    for (triangle_t& t : ts) l->push_back(&t);
    return l;
}

/// Nearest t > 0 over the mesh's triangles in order with the side test and
/// the plane parameter, the first of equal distances kept; `skip` is left out.
inline const triangle_t* bruteNearest(const meshObject_t& m, const point3d_t& from, const vector3d_t& ray,
                                      float& bestT, const void* skip = nullptr) {
    const triangle_t* best = nullptr;
    bestT = -1;
    for (const triangle_t& t : m.triangles) {
        if (&t == skip || !t.hit(from, ray)) continue;
        const float d = (t.N * (*t.pa - from)) / (t.N * ray);
        if (d > 0 && (bestT < 0 || d < bestT)) bestT = d, best = &t;
    }
    return best;
}

} // namespace soup

#endif
