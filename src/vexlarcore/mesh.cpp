#include "vexlarcore/mesh.h"

#include "vexlarcore/renderstate.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <new>
#include <utility>

namespace vexlar {

std::uint32_t rays = 0;
std::uint32_t hitted = 0;

namespace {

// Index of the element `p` points at in `v`, or at its end; false for a null
// pointer or one outside [begin, end]. Works on addresses, so a pointer into
// some other array is caught instead of producing a meaningless difference.
template <class E> bool indexIn(const E* p, const std::vector<E>& v, std::size_t& index) {
    if (p == nullptr) return false;
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(v.data());
    if (a < b || (a - b) % sizeof(E) != 0) return false;
    index = (a - b) / sizeof(E);
    return index <= v.size();
}

// The same element in the copy `to` of `from`; null when `p` is not in `from`.
template <class E> E* repoint(E* p, const std::vector<E>& from, std::vector<E>& to) {
    std::size_t i = 0;
    if (!indexIn(p, from, i)) return nullptr;
    return to.data() + i;
}

// Whether `p` points at `count` values inside `v`.
bool holds(const float* p, const std::vector<float>& v, std::size_t count) {
    std::size_t i = 0;
    return indexIn(p, v, i) && i + count <= v.size();
}

} // namespace

meshObject_t::meshObject_t(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                           const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                           const std::vector<float>& fcol, bool orco)
    : bound(), untransformed(true), hasOrco(false), tree(nullptr) {
    copyArrays(ver, nor, ts, fuv, fcol);
    setHasOrco(orco);
    recalcBound();
    buildTree();
}

meshObject_t::meshObject_t(const matrix4x4_t& m, const std::vector<point3d_t>& ver,
                           const std::vector<vector3d_t>& nor, const std::vector<triangle_t>& ts,
                           const std::vector<float>& fuv, const std::vector<float>& fcol, bool orco)
    : bound(), untransformed(true), hasOrco(false), tree(nullptr) {
    copyArrays(ver, nor, ts, fuv, fcol);
    setHasOrco(orco);
    transform(m);
}

meshObject_t::meshObject_t(meshArrays_t&& arrays, const matrix4x4_t* placement, const meshOptions_t& options,
                           meshTree_t* prebuilt)
    : bound(), untransformed(true), hasOrco(false), tree(nullptr), keepNodeTree(options.nodeTree),
      withTree(!options.noTree), prebuiltTree(prebuilt) {
    shader = nullptr;
    points.swap(arrays.points);
    normals.swap(arrays.normals);
    uvValues.swap(arrays.uvValues);
    colorValues.swap(arrays.colorValues);
    if (points.empty() || arrays.triangles.empty()) {
        std::printf("Error null mesh\n");
    } else {
        // The triangles point into the vectors just taken over; pointers
        // outside them are dropped as by the copying constructors.
        triangles.swap(arrays.triangles);
        checkPointers(points, normals, uvValues, colorValues);
    }
    arrays = meshArrays_t();
    setHasOrco(options.hasOrco);
    if (placement != nullptr) {
        transform(*placement);
    } else {
        recalcBound();
        buildTree();
    }
    prebuiltTree = nullptr;
}

meshObject_t* meshObject_t::factory(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                                    const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                                    const std::vector<float>& fcol, bool orco) {
    return new meshObject_t(ver, nor, ts, fuv, fcol, orco);
}

meshObject_t* meshObject_t::factory(const matrix4x4_t& m, const std::vector<point3d_t>& ver,
                                    const std::vector<vector3d_t>& nor, const std::vector<triangle_t>& ts,
                                    const std::vector<float>& fuv, const std::vector<float>& fcol,
                                    bool orco) {
    return new meshObject_t(m, ver, nor, ts, fuv, fcol, orco);
}

meshObject_t::~meshObject_t() {
    delete tree;
}

void meshObject_t::copyArrays(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                              const std::vector<triangle_t>& ts, const std::vector<float>& fuv,
                              const std::vector<float>& fcol) {
    shader = nullptr;
    points = ver;
    normals = nor;
    uvValues = fuv;
    colorValues = fcol;
    if (ver.empty() || ts.empty()) {
        std::printf("Error null mesh\n");
        // Without points no triangle can be valid; keep none.
        return;
    }
    triangles = ts;
    checkPointers(ver, nor, fuv, fcol);
}

void meshObject_t::checkPointers(const std::vector<point3d_t>& ver, const std::vector<vector3d_t>& nor,
                                 const std::vector<float>& fuv, const std::vector<float>& fcol) {
    // Each pointer field moves from the caller's array (`ver`...) to the
    // mesh's own (the same array for a mesh that took the arrays over),
    // keeping its index.
    for (triangle_t& t : triangles) {
        t.pa = repoint(t.pa, ver, points);
        t.pb = repoint(t.pb, ver, points);
        t.pc = repoint(t.pc, ver, points);
        if (normals.empty()) {
            t.na = t.nb = t.nc = nullptr;
        } else {
            t.na = repoint(t.na, nor, normals);
            t.nb = repoint(t.nb, nor, normals);
            t.nc = repoint(t.nc, nor, normals);
        }
        // Keep indices, including a pointer at the end of the caller's array.
        if (t.uv != nullptr) t.uv = repoint(t.uv, fuv, uvValues);
        if (t.vcol != nullptr) t.vcol = repoint(t.vcol, fcol, colorValues);
        if (t.hasUV && !holds(t.uv, uvValues, 6)) t.hasUV = false;
        if (t.hasVertexColor && !holds(t.vcol, colorValues, 9)) t.hasVertexColor = false;
    }
}

bool meshObject_t::setHasOrco(bool on) {
    hasOrco = false;
    if (!on) return true;
    for (const triangle_t& t : triangles) {
        for (const point3d_t* p : {t.pa, t.pb, t.pc}) {
            std::size_t i = 0;
            if (!indexIn(p, points, i) || i + 1 >= points.size()) return false;
        }
    }
    hasOrco = true;
    return true;
}

void meshObject_t::buildTree() {
    delete tree;
    tree = nullptr;
    nodeSource = nullptr;
    compact.clear();
    prebuiltUsed = false;
    if (!withTree) return;
    if (!takePrebuilt()) {
        podArray_t<triangleRecord_t> records;
        records.resize(triangles.size());
        for (std::size_t i = 0; i < triangles.size(); ++i) records[i] = triangleRecord_t::of(triangles[i]);
        bound_t box;
        if (!triangles.empty()) {
            point3d_t mn = *triangles[0].pa, mx = mn;
            for (const triangle_t& t : triangles) {
                growExtent(mn, mx, *t.pa);
                growExtent(mn, mx, *t.pb);
                growExtent(mn, mx, *t.pc);
            }
            box = paddedBound(mn, mx);
        }
        // A tree beyond the compact tree's indices would not fit in memory.
        if (!compact.build(std::move(records), box, 4, 1, 0, foo1, foo2)) throw std::bad_alloc();
    }
    if (keepNodeTree) {
        std::vector<triangle_t*> byIndex(triangles.size());
        for (std::size_t i = 0; i < triangles.size(); ++i) byIndex[i] = &triangles[i];
        tree = compact.nodeTree(byIndex.data());
        nodeSource = tree;
    }
}

bool meshObject_t::takePrebuilt() {
    if (prebuiltTree == nullptr || prebuiltTree->nodes.empty()) return false;
    meshTree_t& p = *prebuiltTree;
    podArray_t<triangleRecord_t> records;
    records.resize(triangles.size());
    for (std::size_t i = 0; i < triangles.size(); ++i) records[i] = triangleRecord_t::of(triangles[i]);
    const float avgDepth = p.avgDepth, avgSize = p.avgSize;
    if (!compact.adopt(std::move(p.nodes), std::move(p.items), std::move(records), p.depth)) {
        p.clear();
        return false;
    }
    p.clear();
    compact.avgDepth = avgDepth;
    compact.avgSize = avgSize;
    // The statistics read as after a build of the same tree.
    foo1 = avgDepth;
    foo2 = avgSize;
    for (const compactNode_t& n : compact.nodes) {
        if (n.isLeaf() && n.count() > 0) {
            ++leafs;
            leafst += n.count();
        }
    }
    prebuiltUsed = true;
    return true;
}

void meshObject_t::rebuildTree() {
    buildTree();
}

std::size_t meshObject_t::memoryBytes() const {
    std::size_t bytes = points.capacity() * sizeof(point3d_t) + normals.capacity() * sizeof(vector3d_t) +
                        triangles.capacity() * sizeof(triangle_t) + uvValues.capacity() * sizeof(float) +
                        colorValues.capacity() * sizeof(float) + compact.bytes();
    if (tree != nullptr) {
        std::vector<const triangleTree_t*> pending{tree};
        while (!pending.empty()) {
            const triangleTree_t* n = pending.back();
            pending.pop_back();
            bytes += sizeof(triangleTree_t);
            if (n->isLeaf()) {
                bytes += sizeof(triangleList_t) + n->data->capacity() * sizeof(triangle_t*);
            } else {
                pending.push_back(n->left);
                pending.push_back(n->right);
            }
        }
    }
    return bytes;
}

void meshObject_t::recalcBound() {
    if (triangles.empty()) return;
    point3d_t mn = *triangles[0].pa, mx = mn;
    for (const triangle_t& t : triangles) {
        growExtent(mn, mx, *t.pa);
        growExtent(mn, mx, *t.pb);
        growExtent(mn, mx, *t.pc);
    }
    bound = paddedBound(mn, mx);
}

void meshObject_t::transform(const matrix4x4_t& m) {
    const std::size_t step = hasOrco ? 2 : 1;
    if (!untransformed) {
        for (std::size_t i = 0; i < points.size(); i += step) points[i] = back * points[i];
        for (vector3d_t& n : normals) n = back * n;
    }

    back = m;
    back.inverse();

    backRot.identity();
    for (int i = 0; i < 3; ++i) {
        vector3d_t row(back[i][0], back[i][1], back[i][2]);
        row.normalize();
        backRot[i][0] = row.x;
        backRot[i][1] = row.y;
        backRot[i][2] = row.z;
        backRot[i][3] = 0;
    }

    // Orco space is measured in half-extents of the object-space box. An axis
    // without extent (no triangles, or a flat mesh so far from the origin
    // that the box margin rounds away) keeps unit scale; scaling it by 0
    // would make the matrix singular.
    orcoMatrix = m;
    recalcBound();
    const auto halfExtent = [](float lo, float hi) {
        const float h = (hi - lo) / 2;
        return h != 0.0f ? h : 1.0f;
    };
    orcoMatrix.scale(halfExtent(bound.a.x, bound.g.x), halfExtent(bound.a.y, bound.g.y),
                     halfExtent(bound.a.z, bound.g.z));

    for (std::size_t i = 0; i < points.size(); i += step) points[i] = m * points[i];
    for (vector3d_t& n : normals) n = m * n;
    for (triangle_t& t : triangles) t.recNormal();
    untransformed = false;

    buildTree();
    recalcBound();

    orcoMatrix[0][3] = (bound.a.x + bound.g.x) / 2;
    orcoMatrix[1][3] = (bound.a.y + bound.g.y) / 2;
    orcoMatrix[2][3] = (bound.a.z + bound.g.z) / 2;
    orcoMatrix.inverse();
}

point3d_t meshObject_t::toObject(const point3d_t& p) const {
    return untransformed ? p : back * p;
}

vector3d_t meshObject_t::toObjectRot(const vector3d_t& v) const {
    return untransformed ? v : backRot * v;
}

point3d_t meshObject_t::toObjectOrco(const point3d_t& p) const {
    return untransformed ? p : orcoMatrix * p;
}

namespace {

// The triangle loop of shoot over a node-tree walk: tests every triangle of
// every leaf the walk yields, lowering the walk's limit after each nearer
// hit. Returns true for a shadow query that found a blocker. Without
// `shadow`, `best` and `bestT` receive the nearest hit (null and -1 for none).
bool scanLeaves(pureBspIterator_t<triangleList_t>& it, const void* skip, const point3d_t& from,
                const vector3d_t& ray, bool shadow, float limit, const triangle_t*& best, float& bestT) {
    best = nullptr;
    bestT = -1;
    // Counted locally and published once: the global sits behind the
    // library's symbol table and would be reloaded for every triangle.
    std::uint32_t met = 0;
    for (; it.current; ++it) {
        for (const triangle_t* tr : *it.current) {
            ++met;
            if (tr == skip || tr == best) continue;
            if (!tr->hit(from, ray)) continue;
            const float t = (tr->N * (*tr->pa - from)) / (tr->N * ray);
            if (shadow) {
                best = tr;
                if (t > 0 && t < limit) {
                    hitted += met;
                    return true;
                }
                continue;
            }
            if (t > 0 && (bestT < 0 || t < bestT)) {
                bestT = t;
                best = tr;
                if (t < it.limit) it.limit = t;
            }
        }
    }
    hitted += met;
    return false;
}

} // namespace

bool meshObject_t::shootNodeTree(renderState_t& state, surfacePoint_t& sp, const point3d_t& from,
                                 const vector3d_t& ray, bool shadow, float limit) const {
    pureBspIterator_t<triangleList_t> it(tree, limit, bound, from, ray, shadow);
    const triangle_t* best = nullptr;
    float bestT = -1;
    const bool blocked = scanLeaves(it, state.skipElement, from, ray, shadow, limit, best, bestT);
    if (shadow) return blocked;
    if (best == nullptr) return false;
    return surfaceAt(best, bestT, from, ray, sp);
}

bool meshObject_t::surfaceAt(const triangle_t* best, float bestT, const point3d_t& from,
                             const vector3d_t& ray, surfacePoint_t& sp) const {
    const point3d_t p = from + bestT * ray;
    surfacePoint_t hit = best->getSurface(p, bestT, hasOrco);
    hit.object = const_cast<meshObject_t*>(this);
    if (hit.shader == nullptr) hit.shader = shader;
    sp = hit;
    sp.origin = best;
    return true;
}

bool meshObject_t::shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from,
                         const vector3d_t& ray, bool shadow, float dist) const {
    const float limit = dist >= 0 ? dist : std::numeric_limits<float>::infinity();
    ++rays;
    if (triangles.empty()) return false;
    if (tree != nodeSource) {
        // The host's own tree, or none.
        if (tree == nullptr) return false;
        return shootNodeTree(state, sp, from, ray, shadow, limit);
    }
    // The skipped element as a triangle index (none when it is not one of
    // this mesh's triangles).
    std::uint32_t skip = meshTree_t::none;
    std::size_t at = 0;
    if (indexIn(static_cast<const triangle_t*>(state.skipElement), triangles, at) && at < triangles.size())
        skip = static_cast<std::uint32_t>(at);
    std::uint32_t met = 0;
    if (shadow) {
        const bool blocked = compact.blocked(from, ray, limit, bound, skip, met);
        hitted += met;
        return blocked;
    }
    treeHit_t hit;
    const bool found = compact.nearest(from, ray, limit, bound, skip, hit, met);
    hitted += met;
    if (!found) return false;
    return surfaceAt(&triangles[hit.index], hit.t, from, ray, sp);
}

void meshObject_t::autoSmooth(float angle) {
    // Triangles around each point entry, in triangle order, as one flat
    // array with offsets (a triangle using a point twice appears twice).
    const std::size_t np = points.size();
    std::vector<std::size_t> start(np + 1, 0);
    std::vector<std::size_t> corner;
    corner.reserve(3 * triangles.size());
    for (const triangle_t& t : triangles) {
        for (const point3d_t* p : {t.pa, t.pb, t.pc}) {
            std::size_t i = 0;
            corner.push_back(indexIn(p, points, i) && i < np ? i : np);
            if (corner.back() < np) ++start[i + 1];
        }
    }
    for (std::size_t i = 0; i < np; ++i) start[i + 1] += start[i];
    std::vector<const triangle_t*> around(start[np]);
    {
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t c = 0; c < corner.size(); ++c) {
            if (corner[c] < np) around[fill[corner[c]]++] = &triangles[c / 3];
        }
    }

    normals.resize(3 * triangles.size());
    const float threshold =
        angle < 0 ? -2.0f : static_cast<float>(std::cos(static_cast<double>(angle) * 0.017453292519943295));

    for (std::size_t i = 0; i < triangles.size(); ++i) {
        triangle_t& t = triangles[i];
        const vector3d_t ni = t.N;
        vector3d_t* slots[3];
        for (int k = 0; k < 3; ++k) {
            const std::size_t v = corner[3 * i + k];
            vector3d_t sum(0, 0, 0);
            if (v < np) {
                for (std::size_t j = start[v]; j < start[v + 1]; ++j) {
                    const vector3d_t& ns = around[j]->N;
                    if (ns * ni > threshold) sum += ns;
                }
            }
            sum.normalize();
            // No qualifying face (the strict comparison can reject the
            // triangle's own normal at angle 0) or a sum that cancels out.
            if (sum.lengthSqr() == 0.0f) sum = ni;
            normals[3 * i + k] = sum;
            slots[k] = &normals[3 * i + k];
        }
        t.na = slots[0];
        t.nb = slots[1];
        t.nc = slots[2];
    }
}

} // namespace vexlar
