#pragma once

#include "common/FillOnce.h"

#include "geometry/Geometry.h"
#include "geometry/LayerRegion.h"

namespace vellumar::engine {

// The outcome of the polygon check of a polygon operand's contents, made once for them (by the
// first operation that needs it) and shared by every copy of the operand: the contents never
// change, so neither does the outcome. A cancelled check leaves it unmade, for the next operation
// to try again.
struct CheckedRegion {
  FillOnce once;
  geometry::LayerRegion built;
  // The checked region when built.status is Done, with the nesting of its rings that the check
  // found (geometry::Region::nesting), which every set operation it enters uses instead of
  // finding it again.
  geometry::Region region;
};

}  // namespace vellumar::engine
