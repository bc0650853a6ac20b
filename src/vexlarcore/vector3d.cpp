#include "vexlarcore/vector3d.h"

namespace vexlar {

bool operator==(const vector3d_t& a, const vector3d_t& b) {
    if (a.x != b.x) return false;
    if (a.y != b.y) return false;
    if (a.z != b.z) return false;
    return true;
}

bool operator!=(const vector3d_t& a, const vector3d_t& b) {
    return !(a == b);
}

std::ostream& operator<<(std::ostream& out, const vector3d_t& v) {
    out << "(" << static_cast<double>(v.x) << "," << static_cast<double>(v.y) << ","
        << static_cast<double>(v.z) << ")";
    return out;
}

std::ostream& operator<<(std::ostream& out, const point3d_t& p) {
    out << "(" << static_cast<double>(p.x) << "," << static_cast<double>(p.y) << ","
        << static_cast<double>(p.z) << ")";
    return out;
}

} // namespace vexlar
