// A tree node for the agglomerative builders' tests whose name records the
// join order: a leaf has its own name, a parent is "(left,right)".
#ifndef VEXLAR_TESTS_JOINNODE_H
#define VEXLAR_TESTS_JOINNODE_H

#include "vexlarcore/bound.h"
#include "vexlarcore/treebuilder.h"

#include <string>

namespace joins {

using namespace vexlar;

struct node_t {
    node_t(const std::string& n, const bound_t& b) : name(n), box(b) {}
    node_t(node_t* l, node_t* r)
        : name("(" + l->name + "," + r->name + ")"), box(l->box, r->box), left(l), right(r),
          count(l->count + r->count) {}
    ~node_t() {
        delete left;
        delete right;
    }
    std::string name;
    bound_t box;
    node_t *left = nullptr, *right = nullptr;
    int count = 1;
};
struct dist_f {
    float operator()(const node_t* l, const node_t* r) const { return bound_distance(l->box, r->box); }
};
struct join_f {
    node_t* operator()(node_t* l, node_t* r) const { return new node_t(l, r); }
};
typedef treeBuilder_t<node_t*, float, dist_f, join_f> builder_t;

} // namespace joins

#endif
