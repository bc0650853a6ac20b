#include "vexlarcore/renderstate.h"

namespace vexlar {

context_t::~context_t() {
    // std::map iterates in ascending key order; null slots were created but
    // never filled and are skipped.
    for (objectMap_t::iterator i = objectRecords.begin(); i != objectRecords.end(); ++i) {
        delete i->second;
        i->second = nullptr;
    }
}

double& context_t::createRecord(valueMap_t& records, void* key) {
    // operator[] value-initialises a missing entry to 0.0; map nodes never
    // move, so the reference outlives later insertions.
    return records[key];
}

context_t::destructible*& context_t::createRecord(objectMap_t& records, void* key) {
    return records[key];
}

renderState_t::renderState_t()
    : rayLevel(0), hitDistance(0.0f), contribution(1.0f), skipElement(nullptr), sampleIndex(0),
      reservedCount(1), traveled(0.0f), pixelNumber(0), screenPos(0.0f, 0.0f, 0.0f), traceCount(0) {}

renderState_t::~renderState_t() {}

} // namespace vexlar
