#pragma once

#include <cstddef>
#include <vector>

#include "grid/Grid.h"

namespace vellumar::grid {

// A rectangle of a lattice's nodes: columns i0 ... i0 + nx - 1 and rows j0 ... j0 + ny - 1, rows
// counted from the bottom one as grids store them.
struct NodeWindow {
  int i0 = 0;
  int j0 = 0;
  int nx = 0;
  int ny = 0;

  std::size_t nodeCount() const {
    return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
  }
  bool operator==(const NodeWindow&) const = default;
  // The window widened by margin nodes on every side and clipped to a lattice of nx x ny nodes.
  NodeWindow widened(int margin, int latticeNx, int latticeNy) const;
};

// The nodes of a grid without their values: nx x ny nodes evenly over [left, right] x [bottom,
// top]. Node coordinates follow Grid's formulas exactly, so a grid built over a lattice and the
// lattice agree on every node; a window's lattice takes its extents from the nodes it covers.
struct Lattice {
  int nx = 0;
  int ny = 0;
  double left = 0.0;
  double right = 0.0;
  double bottom = 0.0;
  double top = 0.0;

  static Lattice of(const Grid& grid);
  double stepX() const { return nx >= 2 ? (right - left) / (nx - 1) : 0.0; }
  double stepY() const { return ny >= 2 ? (top - bottom) / (ny - 1) : 0.0; }
  double nodeX(int i) const;
  double nodeY(int j) const;
  // nodeX (nodeY) of every column (row).
  std::vector<double> nodeXs() const;
  std::vector<double> nodeYs() const;
  std::size_t nodeCount() const {
    return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
  }
  // nx x ny nodes over the same rectangle.
  Lattice sized(int nodesX, int nodesY) const { return {nodesX, nodesY, left, right, bottom, top}; }
  // The lattice of the nodes the window covers.
  Lattice window(const NodeWindow& window) const;
  // Equal counts and extents within 1e-9 of a step, as Grid::sameLattice.
  bool sameNodes(const Lattice& other) const;
  // Equal extents, exactly, as Grid::sameRectangle.
  bool sameRectangle(const Lattice& other) const {
    return left == other.left && right == other.right && bottom == other.bottom && top == other.top;
  }

  // A grid over these nodes holding values (nodeCount() of them; missing ones become 0), in the
  // mode, with the georeference and zmin/zmax from a range the caller already knows: how every
  // kernel builds the grid it computed. Flagged when the rectangle has an extent along both axes.
  Grid holding(NodeVector values, const Range& range, const Georeference& georeference,
               Interpolation mode) const;
  // As above, zmin/zmax the range of the nodes, blanks left out.
  Grid holding(NodeVector values, const Georeference& georeference, Interpolation mode) const;
};

// The grid's nodes inside the window, as a grid over the window's lattice with the grid's
// georeference and mode.
Grid cutWindow(const Grid& grid, const NodeWindow& window);

}  // namespace vellumar::grid
