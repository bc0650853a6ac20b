// Umbrella header: includes every public header of libvexlarcore.
#ifndef VEXLARCORE_VEXLARCORE_H
#define VEXLARCORE_VEXLARCORE_H

#include "vexlarcore/color.h"
#include "vexlarcore/vector3d.h"

#endif
