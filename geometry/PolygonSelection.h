#pragma once

#include <cstdint>
#include <span>

#include "common/ErrorSink.h"
#include "geometry/Geometry.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {

// How the region's rectangle bounds a selection: strictly inside (the masks, reductions and
// measures) or with its bounds included (the inside/outside flags).
enum class RectBounds { Excluded, Included };

// Whether (x, y) lies in the rectangle under the given bounds; an undefined rectangle holds
// nothing.
bool inRect(const Rect& rect, double x, double y, RectBounds bounds);

// Points selected by a polygon: a point is selected when it lies in the region's rectangle (see
// RectBounds) and inside by the innermost-ring rule. The region is prepared once (the edge index
// of PreparedPolygon), so each query looks at a few edges; queries are const.
class PointSelection {
 public:
  PointSelection(const Cover& region, RectBounds bounds);

  bool selected(double x, double y) const;
  // selected[i] = 1 or 0 for the point (xs[i], ys[i]); the spans have equal lengths. Polls
  // progress for cancel every few thousand points, reporting the points done; false when the
  // user cancelled (selected is then incomplete).
  bool select(std::span<const double> xs, std::span<const double> ys,
              std::span<std::uint8_t> selected, ErrorSink* progress = nullptr) const;

 private:
  PreparedPolygon prepared_;
  Rect rect_;
  RectBounds bounds_;
};

// The same selection over every node of a lattice: mask[j * xs.size() + i] = 1 when the node
// (xs[i], ys[j]) is selected, else 0; mask holds xs.size() * ys.size() flags. The coordinates may
// come in any order. Equal, node by node, to PointSelection (vertex hits and nodes on edges
// included), but computed row by row from the crossings of the edges with the row, so the cost
// is that of the crossings and the nodes, not of nodes times edges. Reports the rows done through
// progress and stops, returning false, when the user cancels.
bool selectLattice(const Cover& region, std::span<const double> xs, std::span<const double> ys,
                   RectBounds bounds, std::span<std::uint8_t> mask, ErrorSink* progress = nullptr);

}  // namespace vellumar::geometry
