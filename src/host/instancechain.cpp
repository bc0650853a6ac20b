#include "host/instancechain.h"

namespace vexlar {
namespace host {

int instanceNesting(const object3d_t* obj) {
    int depth = 0;
    while (const auto* r = dynamic_cast<const referenceObject_t*>(obj)) {
        ++depth;
        obj = r->referenced;
    }
    return depth;
}

referenceObject_t* makeInstance(const matrix4x4_t& m, object3d_t* target) {
    if (instanceNesting(target) < maxInstanceNesting) return referenceObject_t::factory(m, target);
    const auto* inner = static_cast<const referenceObject_t*>(target);
    referenceObject_t* made = referenceObject_t::factory(m * inner->M, inner->referenced);
    made->copySettingsFrom(*target);
    return made;
}

} // namespace host
} // namespace vexlar
