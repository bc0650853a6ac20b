// Bounding hierarchies over scene objects and their ray iterators.
//
// Two variants, both built bottom-up by `treeBuilder_t` from a list of
// objects:
// - the object tree (`geomeTree_t`, built by `buildObjectTree`), walked by
//   `geomeIterator_t` nearest box first with a distance limit the caller
//   lowers as it finds hits; this is the tree the scene renders with;
// - the node tree (`boundTree_t` of `boundTreeNode_t`), with parent links,
//   walked depth first and left first by `objectIterator_t`, and a text dump.
//
// Trees own their nodes, never the objects (unless a leaf of the object tree
// is explicitly marked `ownsElement`). Objects must stay alive and unchanged
// while a tree over them is used. Building is single-threaded; a finished
// tree may be walked by several threads at once, each with its own iterator.
#ifndef VEXLARCORE_GEOMETREE_H
#define VEXLARCORE_GEOMETREE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/object3d.h"
#include "vexlarcore/smallstack.h"
#include "vexlarcore/vector3d.h"

#include <limits>
#include <list>
#include <ostream>
#include <vector>

namespace vexlar {

/// One node of the object tree. A node is a leaf exactly when `element` is
/// non-null; `left` and `right` are only meaningful in inner nodes.
template <class T> class geomeTree_t {
public:
    /// A leaf holding `e` (not owned unless `ownsElement` is set later).
    geomeTree_t(T* e, const bound_t& b)
        : bound(b), left(nullptr), right(nullptr), element(e), count(1), ownsElement(false) {}
    /// An inner node over two (non-null) subtrees, which it takes ownership
    /// of; its box is the union of theirs.
    geomeTree_t(geomeTree_t* l, geomeTree_t* r)
        : bound(l->bound, r->bound), left(l), right(r), element(nullptr), count(l->count + r->count),
          ownsElement(false) {}
    geomeTree_t(const geomeTree_t&) = delete;
    geomeTree_t& operator=(const geomeTree_t&) = delete;

    /// Frees the subtrees of an inner node (left, then right), and the object
    /// of a leaf whose `ownsElement` is true.
    ~geomeTree_t() {
        if (element == nullptr) {
            delete left;
            delete right;
        }
        if (ownsElement && element != nullptr) {
            delete element;
        }
    }

    bool isLeaf() const { return element != nullptr; }

    /// Box of everything below the node.
    bound_t bound;
    geomeTree_t* left;
    geomeTree_t* right;
    /// The object of a leaf; null in inner nodes.
    T* element;
    /// Number of leaves below (1 for a leaf).
    int count;
    /// When true, destroying the leaf destroys its object too.
    bool ownsElement;
};

/// Builds the object tree over `objects` (list order is the push order, so
/// it decides the shape of the tree). Returns the root, which the caller owns
/// and deletes; null for a list without objects (nothing is printed).
/// Otherwise writes "Object count= <n>" and a line end to standard output.
/// Null pointers in the list are skipped. Out of memory for a node writes
/// "Error allocating memory in bound tree\n" and ends the process (status 1).
geomeTree_t<object3d_t>* buildObjectTree(std::list<object3d_t*>& objects);

/// Distance functor of the object tree builder: `bound_distance` of the boxes.
struct oTreeDist_f {
    float operator()(const geomeTree_t<object3d_t>* l, const geomeTree_t<object3d_t>* r) const;
};
/// Join functor of the object tree builder: a new inner node (l left, r right).
struct oTreeJoin_f {
    geomeTree_t<object3d_t>* operator()(geomeTree_t<object3d_t>* l, geomeTree_t<object3d_t>* r) const;
};

/// Walks the objects whose boxes a ray crosses.
///
/// Nearest-first mode (`shadow` false): at each inner node the child whose
/// box the ray enters first is visited first (on equal entry distances the
/// right child), the other is kept on a stack with its entry distance.
/// Subtrees whose entry lies beyond `dist` are skipped. This orders the walk
/// per node, not globally: objects are not guaranteed to come in increasing
/// distance, so callers keep the nearest hit themselves.
///
/// Any-hit mode (`shadow` true): left first, no ordering; the right child is
/// tested only when it comes off the stack.
///
/// Use:
///   for (geomeIterator_t<object3d_t> it(tree, limit, from, ray, false);
///        it.current != nullptr; ++it) {
///       ... shoot it.current; on a hit at t < it.dist set it.dist = t ...
///   }
/// `dist` is in multiples of `ray`. The iterator keeps references to `from`
/// and `ray`: keep them alive and unchanged while iterating.
template <class T> class geomeIterator_t {
public:
    struct state_t {
        const geomeTree_t<T>* node;
        float enterDist;
    };

    geomeIterator_t(const geomeTree_t<T>* tree, float d, const point3d_t& f, const vector3d_t& r, bool s)
        : stack(), current(nullptr), dist(d), from(&f), ray(&r), shadow(s), prepared(f, r) {
        float where;
        if (tree == nullptr || !crossBox(tree->bound, prepared, where, dist)) {
            return;
        }
        down(tree);
    }

    /// Advances to the next object; `current` is null once finished.
    geomeIterator_t& operator++() {
        current = nullptr;
        if (!shadow) {
            // An entry exactly at the limit stays.
            while (!stack.empty() && dist < stack.back().enterDist) {
                stack.pop_back();
            }
        } else {
            float where;
            while (!stack.empty() && !crossBox(stack.back().node->bound, prepared, where, dist)) {
                stack.pop_back();
            }
        }
        if (!stack.empty()) {
            const geomeTree_t<T>* node = stack.back().node;
            stack.pop_back();
            down(node);
        }
        return *this;
    }

    /// The current object (null when finished).
    T* operator*() const { return current; }

    /// Descends from `node` to the next leaf, pushing the subtrees left for
    /// later; sets `current` to null when nothing is left.
    void down(const geomeTree_t<T>* node) {
        while (!node->isLeaf()) {
            float wl = std::numeric_limits<float>::infinity();
            float wr = std::numeric_limits<float>::infinity();
            bool hitL = crossBox(node->left->bound, prepared, wl, dist);
            bool hitR = true;
            if (!shadow || !hitL) {
                hitR = crossBox(node->right->bound, prepared, wr, dist);
            }
            if (!hitL && !hitR) {
                if (stack.empty()) {
                    current = nullptr;
                    return;
                }
                node = stack.back().node;
                stack.pop_back();
                continue;
            }
            if (!shadow) {
                if (wr <= wl) {
                    if (hitL) {
                        stack.push_back(state_t{node->left, wl});
                    }
                    node = node->right;
                } else {
                    if (hitR) {
                        stack.push_back(state_t{node->right, wr});
                    }
                    node = node->left;
                }
            } else if (!hitL) {
                node = node->right;
            } else {
                stack.push_back(state_t{node->right, 0});
                node = node->left;
            }
        }
        current = node->element;
    }

    /// Subtrees still to visit, the most recent on top: room for 16 inside
    /// the iterator, so a ray allocates nothing unless the walk goes deeper.
    smallStack_t<state_t, 16> stack;
    /// The object the iterator stands on; null when finished.
    T* current;
    /// Distance limit along the ray; the caller lowers it while iterating.
    float dist;
    const point3d_t* from;
    const vector3d_t* ray;
    /// Any-hit mode.
    bool shadow;
    /// Copies of the ray with its reciprocals, for the box tests.
    boxRay_t prepared;
};

/// One node of the node tree. A node is a leaf exactly when `object` is
/// non-null. Inner nodes own their children; nodes never own objects.
class boundTreeNode_t {
public:
    /// A leaf over `obj` (non-null) with its box.
    explicit boundTreeNode_t(object3d_t* obj);
    /// An inner node over two (non-null) subtrees, taking ownership of them
    /// and becoming their parent.
    boundTreeNode_t(boundTreeNode_t* l, boundTreeNode_t* r);
    boundTreeNode_t(const boundTreeNode_t&) = delete;
    boundTreeNode_t& operator=(const boundTreeNode_t&) = delete;
    /// An inner node frees `left` then `right`; a missing child writes
    /// "Corrupted boundtree\n" to standard output instead. A leaf frees
    /// nothing.
    ~boundTreeNode_t();

    bool isLeaf() const { return object != nullptr; }

    boundTreeNode_t* left;
    boundTreeNode_t* right;
    /// Null at the root.
    boundTreeNode_t* parent;
    bound_t bound;
    int count;
    object3d_t* object;
};

/// Distance functor of the node tree builder: `bound_distance` of the boxes.
struct nodeTreeDist_f {
    float operator()(const boundTreeNode_t* l, const boundTreeNode_t* r) const;
};
/// Join functor of the node tree builder: a new inner node (l left, r right).
struct nodeTreeJoin_f {
    boundTreeNode_t* operator()(boundTreeNode_t* l, boundTreeNode_t* r) const;
};

/// The node tree. It has no destructor of its own: whoever needs the nodes
/// freed deletes `root`.
class boundTree_t {
public:
    /// Builds the tree over `objects` (push order = list order); `root` is
    /// null when the list holds no object. Null pointers are skipped. Prints
    /// nothing. Out of memory for a node writes
    /// "Error allocating memory in bound tree\n" and ends the process.
    explicit boundTree_t(std::list<object3d_t*>& objects);

    boundTreeNode_t* root;
};

/// Walks the leaves of a node tree whose boxes a ray crosses, depth first,
/// left before right, without ordering by distance. A leaf is reached only
/// when its box and all its ancestors' boxes are crossed.
///
/// Use:
///   for (objectIterator_t it(tree, from, ray, dist); !it.finished; ++it)
///       ... it.current->object ...
/// `dist` <= 0 means no limit. The iterator keeps references to `from` and
/// `ray`: keep them alive and unchanged while iterating.
class objectIterator_t {
public:
    objectIterator_t(boundTree_t& tree, const point3d_t& from, const vector3d_t& ray, float dist);

    objectIterator_t& operator++();
    /// The current object; null when finished.
    object3d_t* operator*() const { return finished ? nullptr : current->object; }

    /// Descends, left first, as far as the ray crosses the boxes.
    void downLeft();
    /// Climbs to the nearest ancestor whose right subtree is still to visit
    /// and is crossed; null when there is none.
    void upFirstRight();

    boundTreeNode_t* current;
    boundTree_t* tree;
    float dist;
    bool finished;
    const point3d_t* from;
    const vector3d_t* ray;

private:
    bool crosses(const boundTreeNode_t* node) const;
    // Moves on from `current` until a leaf is reached or nothing is left.
    void advance();
};

/// Text dump of a subtree (pointers as the stream writes them):
/// a leaf is "<node>(L <parent> <object>)" (no "<parent> " at the root); an
/// inner node is "<dump of left>\n<dump of right>\n<node>(<left> <parent>
/// <right>)" with " NULL " in place of " <parent> " at the root. No line end
/// follows the last ")".
std::ostream& operator<<(std::ostream& out, boundTreeNode_t& node);

} // namespace vexlar

#endif
