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
// Pipeline: repeated points go, and so do stretches traced both ways between points marked kOnNode
// (slits of no width, where the level runs through nodes) and stretches along the frame; what is
// left of each line is a run. Runs that close on themselves are rings; the others are extended at
// their open ends (and where a stretch on the frame went) to the nearest point of the outer frame.
// For the region below the level every line is reversed, so that the region always lies on the
// right. When no run reaches the frame, the frame joins the rings if the largest ring runs
// counter-clockwise (the region surrounds it). Otherwise the runs and the frame are split where
// they cross or touch, dangling pieces (the stubs outside the frame) and pieces lying on top of
// each other are pruned, and rings are assembled as the boundaries of faces: each piece is walked
// in its own direction and, at a junction where several leave, the sharpest right turn is taken.
// Finally the rings pass the polygon check, which orients them by nesting, and their order is
// reversed (the frame, when present, comes first).
//
// Returns false when the pieces cannot be closed into rings or the rings fail the polygon check;
// region is then empty. No isolines give true and an empty region. Every vertex of the result lies
// inside the frame or on it; ring values are the level (isoline rings) or 0 (the frame alone).
bool closeLevelRegion(Cover isolines, const Rect& frame, double margin, bool above, Region& region);

// The mark of isoline points that lie on lattice nodes. Only a stretch between two such points can
// be traced twice (a slit): the search for slits looks at those alone.
inline constexpr std::int32_t kOnNode = 1;

}  // namespace vellumar::geometry
