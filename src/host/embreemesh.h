// The optional Embree accelerator for meshes (render.accelerator "embree").
// Built, with Embree, as a module of its own that the program loads only
// for a scene that asks for it (modules.h); the module's entry point is
// vexlarEmbreeWrap, which calls embreeMesh_t::wrap.
#ifndef VEXLAR_HOST_EMBREEMESH_H
#define VEXLAR_HOST_EMBREEMESH_H

#include "vexlarcore/mesh.h"

#include <memory>
#include <string>

namespace vexlar {
namespace host {

/// A mesh whose rays Embree finds: Embree's watertight triangle test and
/// tree give the nearest triangle and its distance, and the library mesh's
/// own code fills in the surface point, so the shading is the same as on
/// the exact path. Only rays that pass within rounding of a triangle edge
/// can meet a different triangle (or slip through where the exact test
/// finds one): pictures differ from the exact path in a small fraction of
/// pixels, never in the surfaces or their shading.
///
/// Differences from the exact path that callers may notice: without
/// `shadow`, a hit must have t < `dist` (the exact walk may report the
/// nearest triangle of a visited leaf beyond it); the ray and triangle
/// counters count rays only.
///
/// Owns the library mesh (built without its own tree) and the Embree scene.
/// `shoot` is safe from any number of threads and in forked workers once
/// the object is built; `transform` is not supported after construction
/// (placements are applied when the mesh is built) and ends the process.
class embreeMesh_t : public object3d_t {
public:
    /// Takes `mesh` over (built with meshBuild_t::noTree) and builds the
    /// Embree scene of its triangles. Returns null with `error` set when
    /// Embree refuses (a message from Embree's device).
    static embreeMesh_t* wrap(meshObject_t* mesh, std::string& error);
    ~embreeMesh_t() override;

    int type() const override { return 0; }
    void transform(const matrix4x4_t& m) override;
    point3d_t toObject(const point3d_t& p) const override { return mesh->toObject(p); }
    vector3d_t toObjectRot(const vector3d_t& v) const override { return mesh->toObjectRot(v); }
    point3d_t toObjectOrco(const point3d_t& p) const override { return mesh->toObjectOrco(p); }
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override;
    bound_t getBound() const override { return mesh->getBound(); }

    const meshObject_t& libraryMesh() const { return *mesh; }

private:
    struct impl_t;
    embreeMesh_t(meshObject_t* m, std::unique_ptr<impl_t> i);
    std::unique_ptr<meshObject_t> mesh;
    std::unique_ptr<impl_t> impl;
};

} // namespace host
} // namespace vexlar

#endif
