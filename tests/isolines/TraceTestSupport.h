#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "../common/TestSupport.h"
#include "../engine/EvaluationHelpers.h"
#include "../grid/GridTestSupport.h"
#include "common/ErrorSink.h"
#include "geometry/Geometry.h"
#include "grid/Grid.h"
#include "isolines/Trace.h"

namespace vellumar::isolines::testing {

// A grid of nx x ny nodes over [left, right] x [bottom, top] holding f at its nodes.
inline grid::Grid gridOf(int nx, int ny, double left, double right, double bottom, double top,
                         const std::function<double(double, double)>& f,
                         grid::Interpolation mode = grid::Interpolation::Spline) {
  grid::Grid g = grid::testing::makeGrid(nx, ny, left, right, bottom, top, f);
  g.setMode(mode);
  return g;
}

// A lattice of nx x ny nodes at unit spacing from (0, 0), values given bottom row first.
inline grid::Grid latticeOf(int nx, int ny, grid::NodeVector values) {
  grid::Grid frame;
  frame.right = nx - 1;
  frame.top = ny - 1;
  return grid::Grid::fromNodes(nx, ny, frame, std::move(values));
}

// A request for the levels lowest, lowest + step, ... up to highest over the map's lattice made
// densification times finer.
inline TraceRequest levels(double lowest, double highest, double step, const grid::Grid& map,
                           double densification = 1) {
  TraceRequest request;
  request.lowest = lowest;
  request.highest = highest;
  request.step = step;
  request.cellSize = cellSizeParameter(map, densification);
  return request;
}

// Whether, at the middle of every segment, the surface is higher a little to the right of the
// line than a little to its left.
inline bool higherOnTheRight(const geometry::Line& line, const grid::Grid& map, double offset) {
  for (std::size_t k = 0; k + 1 < line.size(); ++k) {
    const double dx = line[k + 1].x - line[k].x;
    const double dy = line[k + 1].y - line[k].y;
    const double length = std::hypot(dx, dy);
    if (length < 4 * offset) continue;
    const double mx = (line[k].x + line[k + 1].x) / 2, my = (line[k].y + line[k + 1].y) / 2;
    const double nx = dy / length * offset, ny = -dx / length * offset;
    if (!(map.value(mx + nx, my + ny) > map.value(mx - nx, my - ny))) return false;
  }
  return true;
}

// Records what a long kernel shows and cancels at the given step call (0: never).
using RecordingProgress = ::vellumar::testing::RecordingObserver;

}  // namespace vellumar::isolines::testing
