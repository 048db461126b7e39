#pragma once

#include <cstdint>
#include <span>

#include "geometry/Geometry.h"

namespace vellumar::geometry {

// The polygon of a map's rectangle (G_P): one clockwise ring through every border node of an
// nx x ny lattice over [left, right] x [bottom, top], 2 (nx + ny) - 3 points: up the left side,
// along the top, down the right side, back along the bottom to (left, bottom). Every value is 0.
// Axes of fewer than two nodes give a ring of the rectangle's corners only.
Line latticeOutline(const Rect& rect, int nx, int ny);

// The region covered by chosen cells of an nx x ny lattice over rect (nx, ny >= 2). cells holds
// one flag per cell, row by row from the bottom: (nx - 1) * (ny - 1) flags, nonzero for a chosen
// cell; cell (i, j) has the lower-left node (i, j). The rings run along the cell sides through the
// lattice's node coordinates, with vertices only where they turn: clockwise around chosen cells,
// counter-clockwise around holes, so the region needs no polygon check to be oriented. Chosen
// cells that meet only at a corner belong to one ring, which touches itself there. Ids and values
// are 0; no chosen cell gives an empty region.
Region cellRegion(const Rect& rect, int nx, int ny, std::span<const std::uint8_t> cells);

}  // namespace vellumar::geometry
