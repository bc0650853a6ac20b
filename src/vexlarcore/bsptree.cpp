#include "vexlarcore/bsptree.h"

#include "vexlarcore/meshtree.h"

#include <cstddef>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace vexlar {

triangleTree_t* buildTriangleTree(triangleList_t* tris, const bound_t& bound, unsigned leafSize,
                                  unsigned depth, unsigned badSplits, float& avgDepth, float& avgSize) {
    const std::size_t total = tris->size();
    if (total <= leafSize || badSplits > 3) {
        // A leaf at once: it keeps the caller's list.
        if (total > 0) {
            ++leafs;
            leafst += static_cast<std::uint32_t>(total);
        }
        avgDepth = static_cast<float>(depth);
        avgSize = static_cast<float>(total);
        return new triangleTree_t(tris);
    }
    // The compact builder works on positions in the list; the node form
    // then points each leaf entry back at the list's triangle.
    std::vector<triangle_t*> input;
    input.swap(*tris);
    delete tris;
    podArray_t<triangleRecord_t> records;
    records.resize(total);
    for (std::size_t i = 0; i < total; ++i) records[i] = triangleRecord_t::of(*input[i]);
    meshTree_t compact;
    // Beyond the compact tree's 2^30 nodes the node form would need many
    // times the memory of any machine.
    if (!compact.build(std::move(records), bound, leafSize, depth, badSplits, avgDepth, avgSize))
        throw std::bad_alloc();
    compact.records = podArray_t<triangleRecord_t>();
    return compact.nodeTree(input.data());
}

flatTriangleTree_t::flatTriangleTree_t(const triangleTree_t* tree) {
    if (tree == nullptr) return;
    const std::uint32_t maxIndex = (1u << 30) - 1;
    // Depth first, low child right after its parent; the high child's index
    // is patched into its parent when the child is placed.
    std::vector<std::pair<const triangleTree_t*, std::size_t>> pending{{tree, 0}};
    const std::size_t noPatch = std::numeric_limits<std::size_t>::max();
    pending.back().second = noPatch;
    while (!pending.empty()) {
        const std::pair<const triangleTree_t*, std::size_t> next = pending.back();
        pending.pop_back();
        const std::size_t self = nodes.size();
        if (self > maxIndex || items.size() > maxIndex) {
            nodes.clear();
            items.clear();
            return;
        }
        if (next.second != noPatch) nodes[next.second].word |= static_cast<std::uint32_t>(self) << 2;
        const triangleTree_t* n = next.first;
        flatNode_t f;
        if (n->isLeaf()) {
            if (n->data->size() > maxIndex) {
                nodes.clear();
                items.clear();
                return;
            }
            f.begin = static_cast<std::uint32_t>(items.size());
            f.word = (static_cast<std::uint32_t>(n->data->size()) << 2) | 3u;
            items.insert(items.end(), n->data->begin(), n->data->end());
        } else {
            f.pos = n->pos;
            // Any axis value other than 0 and 1 reads as z, as in planeCrossInv.
            f.word = n->axis == 0 ? 0u : (n->axis == 1 ? 1u : 2u);
            pending.push_back({n->right, self});
            pending.push_back({n->left, noPatch});
        }
        nodes.push_back(f);
    }
}

bound_t paddedBound(const point3d_t& mn, const point3d_t& mx) {
    const double e = 1e-5;
    return bound_t(
        point3d_t(static_cast<float>(mn.x - e), static_cast<float>(mn.y - e), static_cast<float>(mn.z - e)),
        point3d_t(static_cast<float>(mx.x + e), static_cast<float>(mx.y + e), static_cast<float>(mx.z + e)));
}

bound_t face_calc_bound(const std::vector<triangle_t*>& tris) {
    if (tris.empty()) return bound_t();
    point3d_t mn = *tris[0]->pa, mx = mn;
    for (const triangle_t* t : tris) {
        growExtent(mn, mx, *t->pa);
        growExtent(mn, mx, *t->pb);
        growExtent(mn, mx, *t->pc);
    }
    return paddedBound(mn, mx);
}

bool face_is_in_bound(const triangle_t* const& tri, bound_t& box) {
    const point3d_t* verts[3] = {tri->pa, tri->pb, tri->pc};
    for (const point3d_t* p : verts) {
        if (p->x >= box.a.x && p->x <= box.g.x && p->y >= box.a.y && p->y <= box.g.y && p->z >= box.a.z &&
            p->z <= box.g.z)
            return true;
    }
    return false;
}

point3d_t face_get_pos(const triangle_t* const& tri) {
    const float third = 1.0f / 3.0f;
    const point3d_t& a = *tri->pa;
    const point3d_t& b = *tri->pb;
    const point3d_t& c = *tri->pc;
    return point3d_t((a.x + b.x + c.x) * third, (a.y + b.y + c.y) * third, (a.z + b.z + c.z) * third);
}

} // namespace vexlar
