#include "vexlarcore/geometree.h"

#include "vexlarcore/boxpairing.h"
#include "vexlarcore/treebuilder.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

namespace vexlar {

namespace {

// A tree node that cannot be allocated leaves no tree to render with; the
// library's policy for that is to stop the process with a fixed message.
template <class N> N* checkedNode(N* node) {
    if (node == nullptr) {
        std::printf("Error allocating memory in bound tree\n");
        std::fflush(stdout);
        std::exit(1);
    }
    return node;
}

} // namespace

float oTreeDist_f::operator()(const geomeTree_t<object3d_t>* l, const geomeTree_t<object3d_t>* r) const {
    return bound_distance(l->bound, r->bound);
}

geomeTree_t<object3d_t>* oTreeJoin_f::operator()(geomeTree_t<object3d_t>* l,
                                                 geomeTree_t<object3d_t>* r) const {
    return checkedNode(new (std::nothrow) geomeTree_t<object3d_t>(l, r));
}

geomeTree_t<object3d_t>* buildObjectTree(std::list<object3d_t*>& objects) {
    std::vector<geomeTree_t<object3d_t>*> leaves;
    for (object3d_t* obj : objects) {
        // A null entry has no box; it would also read as an inner node.
        if (obj == nullptr) {
            continue;
        }
        leaves.push_back(checkedNode(new (std::nothrow) geomeTree_t<object3d_t>(obj, obj->getBound())));
    }
    if (leaves.empty()) {
        return nullptr;
    }
    // The joins of treeBuilder_t, computed on flat arrays (boxpairing.h).
    geomeTree_t<object3d_t>* root = buildBoxTree<geomeTree_t<object3d_t>*, oTreeDist_f, oTreeJoin_f>(
        leaves, [](const geomeTree_t<object3d_t>* n) { return n->bound; });
    std::cout << "Object count= " << root->count << std::endl;
    return root;
}

boundTreeNode_t::boundTreeNode_t(object3d_t* obj)
    : left(nullptr), right(nullptr), parent(nullptr), bound(obj->getBound()), count(1), object(obj) {}

boundTreeNode_t::boundTreeNode_t(boundTreeNode_t* l, boundTreeNode_t* r)
    : left(l), right(r), parent(nullptr), bound(l->bound, r->bound), count(l->count + r->count),
      object(nullptr) {
    l->parent = this;
    r->parent = this;
}

boundTreeNode_t::~boundTreeNode_t() {
    if (object != nullptr) {
        return;
    }
    if (left != nullptr) {
        delete left;
    } else {
        std::printf("Corrupted boundtree\n");
    }
    if (right != nullptr) {
        delete right;
    } else {
        std::printf("Corrupted boundtree\n");
    }
}

float nodeTreeDist_f::operator()(const boundTreeNode_t* l, const boundTreeNode_t* r) const {
    return bound_distance(l->bound, r->bound);
}

boundTreeNode_t* nodeTreeJoin_f::operator()(boundTreeNode_t* l, boundTreeNode_t* r) const {
    return checkedNode(new (std::nothrow) boundTreeNode_t(l, r));
}

boundTree_t::boundTree_t(std::list<object3d_t*>& objects) : root(nullptr) {
    std::vector<boundTreeNode_t*> leaves;
    for (object3d_t* obj : objects) {
        if (obj == nullptr) {
            continue;
        }
        leaves.push_back(checkedNode(new (std::nothrow) boundTreeNode_t(obj)));
    }
    if (leaves.empty()) {
        return;
    }
    root = buildBoxTree<boundTreeNode_t*, nodeTreeDist_f, nodeTreeJoin_f>(
        leaves, [](const boundTreeNode_t* n) { return n->bound; });
}

objectIterator_t::objectIterator_t(boundTree_t& t, const point3d_t& f, const vector3d_t& r, float d)
    : current(t.root), tree(&t), dist(d), finished(true), from(&f), ray(&r) {
    if (current == nullptr || !crosses(current)) {
        return;
    }
    finished = false;
    downLeft();
    if (!current->isLeaf()) {
        advance();
    }
}

bool objectIterator_t::crosses(const boundTreeNode_t* node) const {
    if (dist > 0) {
        return node->bound.cross(*from, *ray, dist);
    }
    return node->bound.cross(*from, *ray);
}

void objectIterator_t::downLeft() {
    while (!current->isLeaf()) {
        while (!current->isLeaf() && crosses(current->left)) {
            current = current->left;
        }
        if (!current->isLeaf()) {
            if (crosses(current->right)) {
                current = current->right;
            } else {
                return;
            }
        }
    }
}

void objectIterator_t::upFirstRight() {
    boundTreeNode_t* prev = current;
    boundTreeNode_t* anc = prev->parent;
    while (anc != nullptr) {
        if (prev != anc->right && crosses(anc->right)) {
            current = anc;
            return;
        }
        prev = anc;
        anc = anc->parent;
    }
    current = nullptr;
}

void objectIterator_t::advance() {
    do {
        upFirstRight();
        if (current == nullptr) {
            finished = true;
            return;
        }
        current = current->right;
        downLeft();
    } while (!current->isLeaf());
}

objectIterator_t& objectIterator_t::operator++() {
    if (!finished) {
        advance();
    }
    return *this;
}

std::ostream& operator<<(std::ostream& out, boundTreeNode_t& node) {
    const void* self = &node;
    if (node.isLeaf()) {
        out << self << "(L ";
        if (node.parent != nullptr) {
            out << static_cast<const void*>(node.parent) << " ";
        }
        return out << static_cast<const void*>(node.object) << ")";
    }
    // A damaged inner node may lack a child; dump what is there.
    if (node.left != nullptr) {
        out << *node.left;
    }
    out << "\n";
    if (node.right != nullptr) {
        out << *node.right;
    }
    out << "\n" << self << "(" << static_cast<const void*>(node.left);
    if (node.parent != nullptr) {
        out << " " << static_cast<const void*>(node.parent) << " ";
    } else {
        out << " NULL ";
    }
    return out << static_cast<const void*>(node.right) << ")";
}

} // namespace vexlar
