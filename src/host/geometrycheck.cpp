#include "host/geometrycheck.h"

#include <cmath>

#include "host/jsonread.h"

namespace vexlar {
namespace host {

namespace {

bool within(const point3d_t& p) {
    // Written so that NaN fails too.
    return std::fabs(p.x) <= coordinateLimit && std::fabs(p.y) <= coordinateLimit &&
           std::fabs(p.z) <= coordinateLimit;
}

std::string pointText(const point3d_t& p) {
    return "[" + formatNumber(p.x) + ", " + formatNumber(p.y) + ", " + formatNumber(p.z) + "]";
}

std::string limitText() {
    return "coordinates must lie within +-" + formatNumber(coordinateLimit);
}

} // namespace

std::string meshCoordinateFault(const std::vector<point3d_t>& vertices, const matrix4x4_t& placement) {
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const point3d_t& v = vertices[i];
        if (!within(v))
            return "vertex " + std::to_string(i + 1) + " " + pointText(v) + " is out of range (" +
                   limitText() + ")";
        const point3d_t placed = placement * v;
        if (!within(placed))
            return "vertex " + std::to_string(i + 1) + " " + pointText(v) + " is placed at " +
                   pointText(placed) + ", out of range (" + limitText() + ")";
    }
    return std::string();
}

std::string sphereExtentFault(const point3d_t& center, float radius) {
    const double r = radius;
    for (double c :
         {static_cast<double>(center.x), static_cast<double>(center.y), static_cast<double>(center.z)})
        if (!(std::fabs(c) + r <= coordinateLimit))
            return "the sphere reaches beyond the coordinate range (" + limitText() + ")";
    return std::string();
}

} // namespace host
} // namespace vexlar
