#pragma once

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// Closes the isolines of one level into the region of a map where its surface lies above the
// level (above set) or below it, as a polygon with holes.
//
// isolines (taken over, so that their rings need no copy) are the traced lines of the level inside
// the frame (the map's rectangle), each running
// with the higher values on its right: closed lines are rings, open lines start and end on the
// frame. The frame is the clockwise ring of the rectangle, the outer frame the same ring moved
// outward by margin on every side (the map's node step along X).
//
// Pipeline: closed lines go to the rings; open lines are extended at both ends to the nearest point
// of the outer frame. For the region below the level every line is reversed, so that the region
// always lies on the right. Without open lines the frame joins the rings when the largest ring
// runs counter-clockwise (the region surrounds it). With open lines, the lines and the frame are
// split where they cross, dangling pieces (the stubs outside the frame) are pruned, and rings are
// assembled from the isoline pieces and the frame pieces between them: at a junction the
// sharpest right turn is taken (closeAtJunction). Finally the rings pass the polygon check, which
// orients them by nesting, and their order is reversed (the frame, when present, comes first).
//
// Returns false when the pieces cannot be closed into rings or the rings fail the polygon check;
// region is then empty. No isolines give true and an empty region. Every vertex of the result lies
// inside the frame or on it; ring values are the level (isoline rings) or 0 (the frame alone).
bool closeLevelRegion(Cover isolines, const Rect& frame, double margin, bool above, Region& region);

}  // namespace vellumar::geometry
