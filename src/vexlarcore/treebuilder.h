// Bottom-up agglomerative builder of two-child bounding hierarchies.
//
// Nodes are pushed one at a time; `build` then repeatedly joins the waiting
// pair with the smallest distance into a new parent until one node, the
// root, is left. Pairing is approximate: each waiting item remembers one
// partner, and a push updates only the new item and, when it is closer, that
// item's partner. This keeps a push at one distance evaluation per waiting
// item; the `pointedBy` lists let a pop recompute only the items whose
// partner was joined.
//
// The join order, and so the tree's shape, is fully determined by the push
// order and the distances (ties are broken by list position, see `push` and
// `pop`). Not thread-safe; one builder per thread.
#ifndef VEXLARCORE_TREEBUILDER_H
#define VEXLARCORE_TREEBUILDER_H

#include <iterator>
#include <list>
#include <utility>

namespace vexlar {

/// Builder over node pointers `T` with distance type `D`. `distF` and
/// `joinF` are stateless functors, default-constructed on use:
/// `D distF()(T, T)` measures two nodes, `T joinF()(T left, T right)` makes
/// their parent. The builder never frees the nodes: they belong to the tree
/// the caller keeps.
template <class T, class D, class distF, class joinF> class treeBuilder_t {
public:
    struct item_t;
    typedef typename std::list<item_t>::iterator iterator;

    /// A node still waiting to be joined.
    struct item_t {
        item_t(T e, iterator none) : element(e), nearest(none), nearestDist(), pointedBy() {}

        T element;
        /// The partner; `items.end()` means none yet.
        iterator nearest;
        /// Distance from `element` to the partner's element.
        D nearestDist;
        /// Items whose `nearest` is this one (may hold duplicates).
        std::list<iterator> pointedBy;
    };

    treeBuilder_t() : items(), best(items.end()), minDist() {}
    // `best` and the items' iterators point into this object's own list.
    treeBuilder_t(const treeBuilder_t&) = delete;
    treeBuilder_t& operator=(const treeBuilder_t&) = delete;

    /// Adds a node at the front of the list and pairs it. It becomes `best`
    /// only when strictly closer to its partner than the current best pair
    /// (or when there was no pair yet): ties keep the old `best`.
    void push(T element) {
        items.push_front(item_t(element, items.end()));
        iterator i = items.begin();
        calculate(i);
        if (items.size() > 1 && (i->nearestDist < minDist || best == items.end())) {
            best = i;
            minDist = i->nearestDist;
        }
    }

    /// Joins until at most one item is left; the remaining item's `element`
    /// (`items.front().element`) is then the root. Does nothing with fewer
    /// than two items.
    void build() {
        while (items.size() >= 2) {
            step();
        }
    }

    /// Joins `best` (left child) with its partner (right child) once and
    /// pushes the parent. Needs at least two items.
    void step() {
        T parent = joinF()(best->element, best->nearest->element);
        pop();
        push(parent);
    }

    /// Removes `best` and its partner from the list and returns their
    /// elements, `best`'s first; re-pairs the items that pointed at either
    /// and picks the new `best` (the earliest item among equals). Needs at
    /// least two items.
    std::pair<T, T> pop() {
        iterator a = best;
        iterator b = a->nearest;
        std::pair<T, T> result(a->element, b->element);
        if (b->nearest != items.end()) {
            b->nearest->pointedBy.remove(b);
        }
        std::list<iterator> affected(a->pointedBy);
        b->pointedBy.remove(a);
        affected.insert(affected.end(), b->pointedBy.begin(), b->pointedBy.end());
        // The bookkeeping never lists a or b here; dropping them anyway makes
        // sure no iterator to an erased item is ever followed.
        affected.remove(a);
        affected.remove(b);
        items.erase(b);
        items.erase(a);
        if (!items.empty()) {
            best = items.end();
            for (iterator k : affected) {
                k->nearest = items.end();
            }
            for (iterator k : affected) {
                calculate(k);
            }
            for (iterator k = items.begin(); k != items.end(); ++k) {
                if (k->nearestDist < minDist || best == items.end()) {
                    best = k;
                    minDist = k->nearestDist;
                }
            }
        } else {
            best = items.end();
        }
        return result;
    }

    /// Recomputes the partner of item `i` by scanning all other items and
    /// updates the items it meets that have no partner yet, and its new
    /// partner when `i` is closer to it than that item's own partner.
    void calculate(iterator i) {
        if (items.size() < 2) {
            return;
        }
        if (items.size() == 2) {
            iterator a = items.begin();
            iterator b = std::next(a);
            a->nearest = b;
            b->nearest = a;
            a->pointedBy.push_front(b);
            b->pointedBy.push_front(a);
            D d = distF()(a->element, b->element);
            a->nearestDist = d;
            b->nearestDist = d;
            minDist = d;
            best = a;
            return;
        }
        iterator old = i->nearest;
        for (iterator j = items.begin(); j != items.end(); ++j) {
            if (j == i) {
                continue;
            }
            D d = distF()(i->element, j->element);
            if (j->nearest == items.end()) {
                j->nearest = i;
                j->nearestDist = d;
                i->pointedBy.push_front(j);
            }
            bool adopt;
            if (i->nearest == items.end()) {
                adopt = true;
            } else {
                // Two votes out of three: closer than i's partner, closer than
                // j's partner, and i's partner has itself a closer partner.
                int votes =
                    (d < i->nearestDist) + (d < j->nearestDist) + (i->nearest->nearestDist < i->nearestDist);
                adopt = votes >= 2;
            }
            if (adopt) {
                i->nearest = j;
                i->nearestDist = d;
            }
        }
        iterator k = i->nearest;
        if (i->nearestDist < k->nearestDist) {
            if (k->nearest != items.end()) {
                k->nearest->pointedBy.remove(k);
            }
            k->nearest = i;
            k->nearestDist = i->nearestDist;
            i->pointedBy.push_front(k);
        }
        if (old != items.end()) {
            old->pointedBy.remove(i);
        }
        k->pointedBy.push_front(i);
    }

    /// The nodes not yet joined.
    std::list<item_t> items;
    /// The item with the smallest `nearestDist`; `items.end()` when no pair.
    iterator best;
    /// The `nearestDist` of `best`.
    D minDist;
};

} // namespace vexlar

#endif
