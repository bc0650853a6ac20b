// Instances: another object placed a second time under its own matrix.
#ifndef VEXLARCORE_REFERENCE_H
#define VEXLARCORE_REFERENCE_H

#include "vexlarcore/matrix4.h"
#include "vexlarcore/object3d.h"

namespace vexlar {

/// Places `referenced` in the scene under the instance-to-world matrix `M`
/// without copying its geometry. Rays are carried into the referenced
/// object's space with `back` (the inverse of `M`), shot there, and the hit
/// is carried back with `M`.
///
/// Ownership: the instance does not own `referenced`, which must outlive it;
/// several instances may share one object, which may also be in the scene
/// itself, and an instance may refer to another instance.
///
/// The base-class settings (shader, castShadows and the plug-in settings
/// except `settingWordB`, which stays 0) are copies taken at construction;
/// later changes to the referenced object do not reach the instance.
///
/// Hits carried back keep the matrix's scale: normals and tangents are
/// multiplied by the upper 3x3 part of `M` and not renormalised (under a
/// uniform scale of 2 a hit normal has length 2). Shaders that need unit
/// normals normalise them. `depth` stays valid in world units because the
/// ray direction is carried over without normalising.
class referenceObject_t : public object3d_t {
public:
    /// Stores `obj`, copies its settings, M = m and back = inverse of m. A
    /// singular `m` ends the process (the matrix inverse reports it).
    referenceObject_t(const matrix4x4_t& m, object3d_t* obj);
    /// Allocates an instance; the caller owns it.
    static referenceObject_t* factory(const matrix4x4_t& m, object3d_t* obj);
    ~referenceObject_t() override {}

    /// 2.
    int type() const override { return 2; }
    /// Replaces the placement (M = m, back = inverse of m); does not compose
    /// with the previous matrix.
    void transform(const matrix4x4_t& m) override;
    /// The referenced object's mapping of `back` * p (affine).
    point3d_t toObject(const point3d_t& p) const override;
    /// The referenced object's mapping of the 3x3 part of `back` times v.
    vector3d_t toObjectRot(const vector3d_t& v) const override;
    /// The referenced object's orco mapping of `back` * p (affine).
    point3d_t toObjectOrco(const point3d_t& p) const override;

    /// Shoots the carried ray at the referenced object with the same state,
    /// record, shadow flag and limit. On a hit the normals, tangents and point
    /// of `sp` are carried back with `M`, `sp.object` becomes the instance and
    /// the rest (depth, uv, orco point, shader, origin) stays as the
    /// referenced object wrote it. This also happens after a successful
    /// shadow query, whose record the caller ignores.
    bool shoot(renderState_t& state, surfacePoint_t& sp, const point3d_t& from, const vector3d_t& ray,
               bool shadow, float dist) const override;

    /// The box around the referenced object's box mapped by `M` (its eight
    /// corners mapped, then their minimum and maximum; no margin).
    bound_t getBound() const override;

    /// The referenced object; not owned.
    object3d_t* referenced;
    /// World-to-instance matrix (inverse of M).
    matrix4x4_t back;
    /// Instance-to-world matrix.
    matrix4x4_t M;
};

} // namespace vexlar

#endif
