// The agglomerative builder of treebuilder.h specialised to boxes under
// `bound_distance`, the case of both object trees: the same joins in the same
// order, with the work of each pairing scan done on contiguous arrays of box
// corners, many pairs per vector instruction, and with the scan's bookkeeping
// skipped for runs of items it cannot change.
//
// Every distance is computed with the single-precision operations of
// bound_distance, in its order, so the pairing decisions, ties included, are
// those of treeBuilder_t. Boxes whose corners are not sorted (or are NaN)
// make bound_distance print warnings per evaluation; a builder given such a
// box does the whole build with treeBuilder_t itself, so that the warnings
// come out as they always did.
//
// Not thread-safe; one builder per thread.
#ifndef VEXLARCORE_BOXPAIRING_H
#define VEXLARCORE_BOXPAIRING_H

#include "vexlarcore/bound.h"
#include "vexlarcore/podarray.h"
#include "vexlarcore/treebuilder.h"

#include <cstdint>
#include <vector>

namespace vexlar {

/// The pairing core over box slots: slot k is the k-th box pushed (leaves
/// first, then each join's parent). Callers push every leaf, then call
/// `join` until it returns false, pushing the parent's box after each join.
class boxPairing_t {
public:
    static const std::uint32_t none = 0xffffffffu;

    /// Adds a box at the front of the waiting list; returns its slot.
    std::uint32_t push(const bound_t& box);
    /// When two or more items wait: removes the best pair, setting `left`
    /// to the best item's slot and `right` to its partner's, and returns
    /// true (treeBuilder_t::pop). The caller then pushes the parent's box.
    bool join(std::uint32_t& left, std::uint32_t& right);
    /// Items waiting.
    std::size_t waiting() const { return live; }
    /// The slot of the front item (the root once one item is left).
    std::uint32_t front() const;

private:
    // Per slot; the arrays are indexed by position, which equals the slot
    // until `compact` closes the gaps of joined items (`position` maps).
    podArray_t<float> ax, ay, az, gx, gy, gz, volume;
    podArray_t<float> nearestDist;
    podArray_t<std::int32_t> nearestPos;               // position of the partner, or -1
    podArray_t<std::int32_t> alive;                    // all ones while waiting, else 0
    podArray_t<std::uint32_t> slotAt;                  // slot of each position
    std::vector<std::vector<std::uint32_t>> pointedBy; // by position; front = back()
    podArray_t<float> distances;                       // one scan's distances, by position
    podArray_t<unsigned char> runBits;                 // one scan's lanes to visit, per run of 8
    std::vector<std::uint32_t> slotPosition;           // by slot
    std::size_t live = 0;
    std::uint32_t best = none; // position
    float minDist = 0;

    void calculate(std::uint32_t i);
    void distancesFrom(std::uint32_t i);
    float pairDistance(std::uint32_t i, std::uint32_t j) const;
    void scan(std::uint32_t i);
    void compact();
    static void pushFront(std::vector<std::uint32_t>& list, std::uint32_t v) { list.push_back(v); }
    static void removeAll(std::vector<std::uint32_t>& list, std::uint32_t v);
    std::uint32_t frontPosition() const;
    std::uint32_t nextPosition(std::uint32_t p) const; // towards the back; none at the end
};

/// Whether every box of `boxes` has sorted, non-NaN corners (the condition
/// under which boxPairing_t may stand in for treeBuilder_t).
bool sortedBoxes(const std::vector<bound_t>& boxes);

/// Builds a tree over node pointers T, joining exactly as
/// treeBuilder_t<T, float, distF, joinF> does with distF the
/// `bound_distance` of the nodes' boxes. `boxOf(T)` reads a node's box;
/// `joinF()(l, r)` makes the parent. Returns the root, or a default T for no
/// nodes.
template <class T, class distF, class joinF, class boxOf_f>
T buildBoxTree(const std::vector<T>& leaves, boxOf_f boxOf) {
    if (leaves.empty()) return T();
    std::vector<bound_t> boxes;
    boxes.reserve(leaves.size());
    for (const T& t : leaves) boxes.push_back(boxOf(t));
    if (!sortedBoxes(boxes)) {
        treeBuilder_t<T, float, distF, joinF> reference;
        for (const T& t : leaves) reference.push(t);
        reference.build();
        return reference.items.front().element;
    }
    boxPairing_t pairing;
    std::vector<T> bySlot(leaves);
    bySlot.reserve(2 * leaves.size());
    for (const bound_t& b : boxes) pairing.push(b);
    std::uint32_t l, r;
    while (pairing.join(l, r)) {
        const T parent = joinF()(bySlot[l], bySlot[r]);
        bySlot.push_back(parent);
        pairing.push(boxOf(parent));
    }
    return bySlot[pairing.front()];
}

} // namespace vexlar

#endif
