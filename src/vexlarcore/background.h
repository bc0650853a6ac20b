// The world-background interface that background plug-ins implement.
//
// The host owns the background and sets the scene's pointer to it; the
// library never creates or destroys one.
#ifndef VEXLARCORE_BACKGROUND_H
#define VEXLARCORE_BACKGROUND_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

namespace vexlar {

class renderState_t;

/// Abstract background: the colour of rays that hit nothing.
class background_t {
public:
    /// Colour seen along `dir`, the direction of a ray that hit nothing (as
    /// the tracer has it; unit length for camera rays). Called per pixel with
    /// the render state of the calling thread; the scene applies its fog to
    /// the result afterwards. Without a background the scene uses black.
    virtual color_t lookup(const vector3d_t& dir, renderState_t& state) const = 0;
    virtual ~background_t() {}
};

} // namespace vexlar

#endif
