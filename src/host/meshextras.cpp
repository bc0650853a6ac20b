#include "host/meshextras.h"

#include <utility>

namespace vexlar {
namespace host {

meshObject_t* buildMeshWith(meshData_t&& data, meshExtras_t&& extras, const matrix4x4_t& placement,
                            float smoothAngle, const std::vector<const shader_t*>& shaders) {
    const std::size_t nf = data.faces.size();
    const bool normals = extras.cornerNormals.size() == 3 * nf && nf > 0;
    const bool someUV = data.faceUV.size() == 6 * nf && nf > 0;
    const bool uvFlags = extras.faceHasUV.size() == nf;
    const bool perFace = extras.faceShader.size() == nf;

    meshArrays_t arrays;
    arrays.points.swap(data.vertices);
    arrays.uvValues.swap(data.faceUV);
    if (normals) arrays.normals.swap(extras.cornerNormals);
    arrays.triangles.reserve(nf);
    point3d_t* pts = arrays.points.data();
    for (std::size_t f = 0; f < nf; ++f) {
        const std::array<int, 3>& face = data.faces[f];
        triangle_t t(pts + face[0], pts + face[1], pts + face[2]);
        if (someUV && (!uvFlags || extras.faceHasUV[f])) {
            t.uv = arrays.uvValues.data() + 6 * f;
            t.hasUV = true;
        }
        if (normals) {
            vector3d_t* n = arrays.normals.data() + 3 * f;
            const bool flat = n[0].length() == 0.0f && n[1].length() == 0.0f && n[2].length() == 0.0f;
            if (!flat) {
                t.na = n;
                t.nb = n + 1;
                t.nc = n + 2;
            }
        }
        if (perFace) {
            const int s = extras.faceShader[f];
            if (s >= 0 && static_cast<std::size_t>(s) < shaders.size()) t.shader = shaders[s];
        }
        arrays.triangles.push_back(t);
    }
    std::vector<std::array<int, 3>>().swap(data.faces);
    extras = meshExtras_t();
    meshObject_t* mesh = new meshObject_t(std::move(arrays), &placement, meshOptions_t());
    if (smoothAngle >= 0.0f && !normals) mesh->autoSmooth(smoothAngle);
    return mesh;
}

} // namespace host
} // namespace vexlar
