// Running the library's post filters (depth of field, anti-noise) over the
// program's floating-point picture.
#ifndef VEXLAR_HOST_POSTFILTER_H
#define VEXLAR_HOST_POSTFILTER_H

#include <vector>

#include "host/floatimage.h"
#include "vexlarcore/buffer.h"
#include "vexlarcore/filter.h"

namespace vexlar {
namespace host {

/// Applies `filters` in order. They work on 8-bit colours: the picture goes
/// through an 8-bit copy (each value rounded to the nearest of 256 levels),
/// and only the pixels a filter changed take its 8-bit result, so the rest
/// keep their full precision. `depth` must have the picture's size.
void applyFilters(const std::vector<filter_t*>& filters, floatImage_t& image, fBuffer_t& depth);

} // namespace host
} // namespace vexlar

#endif
