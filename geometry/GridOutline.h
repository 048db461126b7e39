#pragma once

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// The polygon of a map's rectangle (G_P): one clockwise ring through every border node of an
// nx x ny lattice over [left, right] x [bottom, top], 2 (nx + ny) - 3 points: up the left side,
// along the top, down the right side, back along the bottom to (left, bottom). Every value is 0.
// Axes of fewer than two nodes give a ring of the rectangle's corners only.
Line latticeOutline(const Rect& rect, int nx, int ny);

}  // namespace vellumar::geometry
