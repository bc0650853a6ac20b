// Per-ray scratch record and the per-state record store of plug-ins.
//
// One renderState_t travels by non-const reference with every ray a render
// thread traces: through the scene's tracers, into objects' `shoot` and into
// every shader and light call. The render driver creates one per block and
// reuses it for each ray of that block. Nothing in it is shared or locked: a
// state and its context belong to exactly one thread at a time.
#ifndef VEXLARCORE_RENDERSTATE_H
#define VEXLARCORE_RENDERSTATE_H

#include "vexlarcore/vector3d.h"

#include <map>

namespace vexlar {

/// Store of per-state records that plug-ins key by an address of their
/// choosing (typically `this` of the shader or light). Keys are never
/// dereferenced. Entries are never removed before the context dies, so a
/// reference returned by createRecord stays valid for the context's life and
/// may be cached per state.
class context_t {
public:
    /// Base of plug-in object records. The context deletes the records it
    /// owns through this virtual destructor.
    class destructible {
    public:
        virtual ~destructible() {}
    };

    typedef std::map<void*, double> valueMap_t;
    typedef std::map<void*, destructible*> objectMap_t;

    context_t() {}
    /// Deletes every non-null object record once, in ascending key order.
    ~context_t();

    // The context owns raw pointers: copying it would delete records twice.
    context_t(const context_t&) = delete;
    context_t& operator=(const context_t&) = delete;

    /// The numeric record under `key`, created as 0.0 when absent.
    static double& createRecord(valueMap_t& records, void* key);
    /// The object record slot under `key`, created as null when absent. Store
    /// a `new`-allocated record through the reference; the context then owns
    /// it. Replacing a non-null record through the reference is the caller's
    /// business: the old record is not deleted by the context.
    static destructible*& createRecord(objectMap_t& records, void* key);

    /// Numeric records, one per key.
    valueMap_t valueRecords;
    /// Object records, one per key; the context owns the non-null ones.
    objectMap_t objectRecords;
};

/// Scratch record of one rendering thread. See the members for who writes
/// what; the record holds no pointer to the scene and owns only its context.
class renderState_t {
public:
    renderState_t();
    ~renderState_t();

    // Owns a context_t, which cannot be copied.
    renderState_t(const renderState_t&) = delete;
    renderState_t& operator=(const renderState_t&) = delete;

    /// Nesting level of the ray being traced: the driver sets -1 before each
    /// camera ray, every trace increments it on entry and decrements it on
    /// every way out, so camera rays are traced at level 0.
    int rayLevel;
    /// Distance to the last hit found by a trace, -1 for no hit or a ray not
    /// traced because of the level limit. After a camera ray: the pixel depth.
    float hitDistance;
    /// Weight of the current ray in its pixel; the driver resets it to 1.0
    /// before every first sample. Plug-ins may read and change it.
    float contribution;
    /// Geometric element (a surface point's `origin`) that rays must not hit.
    /// Set by plug-ins only.
    const void* skipElement;
    /// Camera sample being computed: 0 for the first, p * aaSamples + s for
    /// sample s of anti-aliasing pass p.
    int sampleIndex;
    /// Set to 1 by the constructor; no library code reads it.
    int reservedCount;
    /// Per-state records of plug-ins.
    context_t context;
    /// Sum of the hit depths from the camera to the hit being shaded.
    float traveled;
    /// x + y * resx of the pixel being computed.
    int pixelNumber;
    /// Screen position of the current camera sample, x and y in [-1, 1]
    /// (left/bottom to right/top), z = 0.
    point3d_t screenPos;
    /// Traces entered since the current camera ray began, that one
    /// included; reset when a trace starts at level -1. Bounded by
    /// scene_t::maxTracesPerSample.
    int traceCount;
};

} // namespace vexlar

#endif
