#pragma once

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Builds a region from a cover (the polygon check). Fails on an empty cover. With check off the
// cover is taken as it is. Otherwise every line must be a closed ring of at least 2 points with
// finite coordinates, no two rings may cross or touch and no ring may cross itself (see
// findSelfCrossings, snapped to the cover's snap step); then each ring's nesting depth is the
// number of larger rings (by |signed area|) containing its first point, and rings are reversed
// where needed so that even depths run clockwise (negative area) and odd depths (holes)
// counter-clockwise. Rings keep their order, ids and values. On failure region is left unchanged.
bool buildRegion(const Cover& cover, Region& region, bool check = true);

}  // namespace vellumar::geometry
