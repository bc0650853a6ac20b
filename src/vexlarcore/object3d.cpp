#include "vexlarcore/object3d.h"

#include "vexlarcore/sampling.h"

namespace vexlar {

surfacePoint_t::surfacePoint_t(object3d_t* obj, const point3d_t& p, const point3d_t& orco,
                               const vector3d_t& n, const vector3d_t& ng, float iu, float iv, color_t vcol,
                               float d, const shader_t* sha, bool uv, bool hasVCol, bool hasOr)
    : normal(n), geometricNormal(ng), u(iu), v(iv), point(p), orcoPoint(orco), depth(d), object(obj),
      shader(sha), hasUV(uv), hasVertexColor(hasVCol), hasOrco(hasOr), dudNU(0), dudNV(0), dvdNU(0), dvdNV(0),
      auxPoint(0, 0, 0), vertexColor(vcol), origin(nullptr) {
    createCS(normal, tangentU, tangentV);
}

} // namespace vexlar
