// Directions and positions in an environment picture: the mappings of the
// image background (and of anything that samples the same picture by
// direction, such as a sky light).
//
// A frame places the picture in the scene: `up` is the zenith; `front` is
// the direction shown at the picture's centre; `side` = up x front lies to
// the left of a viewer who faces `front`. Positions are (u, v) as in
// texelsample.h: u across from the left edge, v down from the top edge.
//   latlong     equirectangular: u = 0.5 - azimuth / 2 pi (the azimuth
//               measured from front towards side), v = zenith angle / pi;
//               front at the centre, the viewer's left on the left, the
//               zenith along the top row
//   angular     the angular map of light probes: the distance from the
//               centre is proportional to the angle from front (the whole
//               sphere fills the inscribed disc, the direction opposite
//               front its rim); up points to the top, the viewer's right
//               to the right
//   mirrorball  the photograph of a mirror sphere taken looking along
//               -front: front at the centre, the reflected normal's
//               components give the position (up to the top, side to the
//               right, as the photographer sees it)
// Directions need not be unit length (zero gives false). Thread-safe.
#ifndef VEXLAR_PLUGINS_ENVMAP_H
#define VEXLAR_PLUGINS_ENVMAP_H

#include "vexlarcore/vector3d.h"

namespace vexlar {
namespace plugins {

enum class envMapping_t { latlong, angular, mirrorball };

struct envFrame_t {
    vector3d_t up, front, side;
};

/// The frame with zenith `up` (any length but zero) whose front is turned
/// by `rotationDegrees` about `up` (counter-clockwise seen from above) from
/// the reference direction: x, or y when `up` is close to x, made
/// perpendicular to `up`.
envFrame_t makeEnvFrame(const vector3d_t& up, float rotationDegrees);

/// The position of direction `d`; false for a zero or non-finite direction.
bool directionToPosition(envMapping_t m, const envFrame_t& f, const vector3d_t& d, double& u, double& v);

/// The unit direction shown at (u, v); false where the picture shows no
/// direction (outside the disc of the angular and mirror-ball maps).
bool positionToDirection(envMapping_t m, const envFrame_t& f, double u, double v, vector3d_t& d);

} // namespace plugins
} // namespace vexlar

#endif
