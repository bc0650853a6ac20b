// A generic top-down bounding tree over items that have a position, and an
// iterator that visits the items of every leaf whose box comes near a sphere.
// The photon map builds it over pointers to its stored photons.
//
// The caller supplies three plain functions: the box of a set of items,
// whether an item lies in a box (bounds inclusive), and an item's position.
// Trees own their nodes but not the items (they keep copies of the item
// values, typically pointers). A built tree is read-only; any number of
// iterators may walk it concurrently.
#ifndef VEXLARCORE_POINTTREE_H
#define VEXLARCORE_POINTTREE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/vector3d.h"

#include <vector>

namespace vexlar {

/// A node of the point tree. A node is a leaf exactly when `left` is null.
template <class T> class gBoundTreeNode_t {
public:
    gBoundTreeNode_t() : left(nullptr), right(nullptr), parent(nullptr) {}
    /// Destroys the whole subtree (not the items).
    ~gBoundTreeNode_t() {
        delete left;
        delete right;
    }
    gBoundTreeNode_t(const gBoundTreeNode_t&) = delete;
    gBoundTreeNode_t& operator=(const gBoundTreeNode_t&) = delete;

    bool isLeaf() const { return left == nullptr; }

    gBoundTreeNode_t* left;
    gBoundTreeNode_t* right;
    gBoundTreeNode_t* parent;
    /// A leaf: the box of its items. An inner node: the box of the whole item
    /// set whose split created it.
    bound_t bound;
    /// The items of a leaf, in the order they were given; empty in inner nodes.
    std::vector<T> items;
};

namespace pointTreeDetail {
inline float& axis(point3d_t& p, int k) {
    return k == 0 ? p.x : (k == 1 ? p.y : p.z);
}
inline float axis(const point3d_t& p, int k) {
    return k == 0 ? p.x : (k == 1 ? p.y : p.z);
}
} // namespace pointTreeDetail

/// Builds a tree over `items`; the caller owns the returned root.
///
/// A set of at most `leafSize` items, or one where all three axes are ruled
/// out, becomes a leaf. Otherwise the set is split on the axis of the box's
/// largest extent (ties prefer x, then y; axes whose skip flag is set are
/// not used) at the mean of the items' positions on that axis (summed in
/// single precision in item order). Items beyond the plane go to U, items
/// below it to L, items on it to M (each keeping its order). If one group
/// holds everything the split failed: the same items are built again with
/// that axis ruled out. Otherwise L and U become the children of one node
/// and M, if not empty, the right child of a node above it (empty groups are
/// left out). Inner nodes carry the box of the set they split. `depth` is
/// handed on, one more per level; it limits nothing.
template <class T>
gBoundTreeNode_t<T>*
buildGenericTree(const std::vector<T>& items, bound_t (*calcBound)(const std::vector<T>&),
                 bool (*isInBound)(const T&, bound_t&), point3d_t (*getPos)(const T&), unsigned int leafSize,
                 unsigned int depth, bool skipX, bool skipY, bool skipZ) {
    typedef gBoundTreeNode_t<T> node_t;
    if (items.size() <= leafSize || (skipX && skipY && skipZ)) {
        node_t* leaf = new node_t;
        leaf->bound = calcBound(items);
        leaf->items = items;
        return leaf;
    }
    const bound_t box = calcBound(items);
    const float dx = box.g.x - box.a.x, dy = box.g.y - box.a.y, dz = box.g.z - box.a.z;
    int axis;
    if (!skipX && (dx >= dy || skipY) && (dx >= dz || skipZ))
        axis = 0;
    else if (!skipY && (dy >= dx || skipX) && (dy >= dz || skipZ))
        axis = 1;
    else
        axis = 2;
    // With NaN extents every comparison fails and z would be chosen even when
    // it is ruled out; take the first axis still allowed so that a failed
    // split always rules out one more axis and the recursion ends.
    const bool skip[3] = {skipX, skipY, skipZ};
    if (skip[axis]) axis = !skipX ? 0 : (!skipY ? 1 : 2);

    float sum = 0.0f;
    for (const T& it : items) sum += pointTreeDetail::axis(getPos(it), axis);
    const float m = sum / static_cast<float>(items.size());

    bound_t lower(box), upper(box);
    pointTreeDetail::axis(lower.g, axis) = m;
    pointTreeDetail::axis(upper.a, axis) = m;

    std::vector<T> groupL, groupU, groupM;
    for (const T& it : items) {
        if (!isInBound(it, lower))
            groupU.push_back(it);
        else if (!isInBound(it, upper))
            groupL.push_back(it);
        else
            groupM.push_back(it);
    }

    const std::size_t n = items.size();
    if (groupL.size() == n || groupU.size() == n || groupM.size() == n)
        return buildGenericTree(items, calcBound, isInBound, getPos, leafSize, depth, skipX || axis == 0,
                                skipY || axis == 1, skipZ || axis == 2);

    auto build = [&](const std::vector<T>& group) {
        return buildGenericTree(group, calcBound, isInBound, getPos, leafSize, depth + 1, skipX, skipY,
                                skipZ);
    };
    auto join = [&box](node_t* l, node_t* r) {
        node_t* node = new node_t;
        node->bound = box;
        node->left = l;
        node->right = r;
        l->parent = node;
        r->parent = node;
        return node;
    };
    if (groupL.empty()) return join(build(groupU), build(groupM));
    if (groupU.empty()) return join(build(groupL), build(groupM));
    if (groupM.empty()) return join(build(groupL), build(groupU));
    node_t* lowerUpper = join(build(groupL), build(groupU));
    return join(lowerUpper, build(groupM));
}

/// A sphere (centre and radius) for searching the point tree.
struct searchCircle_t {
    searchCircle_t() : center(0, 0, 0), radius(0) {}
    searchCircle_t(const point3d_t& c, float r) : center(c), radius(r) {}
    point3d_t center;
    float radius;
};

/// True when the box grown by the radius on every side contains the centre
/// (both bounds inclusive). Conservative: not an exact sphere-box test.
struct circleCross_f {
    bool operator()(const searchCircle_t& c, const bound_t& b) const {
        return b.a.x - c.radius <= c.center.x && c.center.x <= b.g.x + c.radius &&
               b.a.y - c.radius <= c.center.y && c.center.y <= b.g.y + c.radius &&
               b.a.z - c.radius <= c.center.z && c.center.z <= b.g.z + c.radius;
    }
};

/// Visits every item of every leaf whose box is crossed by `region` (tested
/// with `cross_t`), depth first, left before right. All items of a visited
/// leaf are yielded, inside the region or not; the caller tests them.
///
/// Use: `for (it(root, region); !it.finished; ++it) use(*it);`. The iterator
/// keeps a pointer to `region`, which must outlive it; the tree must not
/// change while it is walked. A null root yields nothing.
template <class T, class region_t, class cross_t> class gObjectIterator_t {
public:
    typedef gBoundTreeNode_t<T> node_t;

    gObjectIterator_t(const node_t* r, const region_t& reg)
        : current(r), root(r), region(&reg), finished(false) {
        if (root == nullptr || !crossed(root)) {
            finish();
            return;
        }
        downLeft();
        if (current->isLeaf()) {
            item = current->items.begin();
            itemEnd = current->items.end();
            if (item == itemEnd) nextLeaf();
        } else {
            nextLeaf();
        }
    }

    gObjectIterator_t& operator++() {
        ++item;
        if (item == itemEnd) nextLeaf();
        return *this;
    }

    /// The current item; valid while `finished` is false.
    const T& operator*() const { return *item; }

    const node_t* current;
    const node_t* root;
    const region_t* region;
    bool finished;
    typename std::vector<T>::const_iterator item, itemEnd;

protected:
    bool crossed(const node_t* n) const { return cross_t()(*region, n->bound); }

    void finish() {
        current = nullptr;
        finished = true;
    }

    /// Descends from `current`, preferring the left child, while a child's
    /// box is crossed; stops at a leaf or at an inner node with neither.
    void downLeft() {
        while (!current->isLeaf()) {
            if (crossed(current->left))
                current = current->left;
            else if (crossed(current->right))
                current = current->right;
            else
                return;
        }
    }

    /// Walks up to the nearest ancestor reached from its left side whose right
    /// child's box is crossed; null when there is none.
    void upFirstRight() {
        const node_t* prev = current;
        const node_t* n = current->parent;
        while (n != nullptr) {
            if (n->right != prev && crossed(n->right)) {
                current = n;
                return;
            }
            prev = n;
            n = n->parent;
        }
        current = nullptr;
    }

    /// Moves to the next crossed leaf that has items, or finishes.
    void nextLeaf() {
        do {
            do {
                upFirstRight();
                if (current == nullptr) {
                    finish();
                    return;
                }
                current = current->right;
                downLeft();
            } while (!current->isLeaf());
            item = current->items.begin();
            itemEnd = current->items.end();
        } while (item == itemEnd);
    }
};

} // namespace vexlar

#endif
