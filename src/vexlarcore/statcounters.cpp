#include "vexlarcore/statcounters.h"

#include "vexlarcore/bound.h"
#include "vexlarcore/bsptree.h"
#include "vexlarcore/mesh.h"

namespace vexlar {

statCounters_t statCounters_t::now() {
    statCounters_t c;
    c.rays = vexlar::rays;
    c.hitted = vexlar::hitted;
    c.leafs = vexlar::leafs;
    c.leafst = vexlar::leafst;
    c.bcount = vexlar::bcount;
    return c;
}

statCounters_t statCounters_t::since(const statCounters_t& start) const {
    statCounters_t c;
    c.rays = rays - start.rays;
    c.hitted = hitted - start.hitted;
    c.leafs = leafs - start.leafs;
    c.leafst = leafst - start.leafst;
    c.bcount = bcount - start.bcount;
    return c;
}

void statCounters_t::addToGlobals() const {
    vexlar::rays += rays;
    vexlar::hitted += hitted;
    vexlar::leafs += leafs;
    vexlar::leafst += leafst;
    vexlar::bcount += bcount;
}

} // namespace vexlar
