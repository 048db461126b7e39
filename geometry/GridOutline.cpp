#include "geometry/GridOutline.h"

#include <array>
#include <cstddef>
#include <vector>

namespace vellumar::geometry {
namespace {

// Node k of count nodes spaced evenly from low to high; the last one is high exactly.
double along(double low, double high, int k, int count) {
  if (k >= count - 1) return high;
  return low + k * ((high - low) / (count - 1));
}

// Directions of the boundary edges between lattice nodes, counter-clockwise from east, so that
// (d + 1) % 4 turns left and (d + 3) % 4 turns right.
enum Direction : int { kEast = 0, kNorth = 1, kWest = 2, kSouth = 3 };
constexpr std::array<int, 4> kStepX = {1, 0, -1, 0};
constexpr std::array<int, 4> kStepY = {0, 1, 0, -1};

// The boundary edges of the chosen cells, each walked with its cell on the right, found from the
// four cells around a node: an edge leaves node (i, j) eastward along the top of the chosen cell
// below it when the cell above is not chosen, and likewise for the other three directions.
class CellBoundary {
 public:
  CellBoundary(int nx, int ny, std::span<const std::uint8_t> cells)
      : nx_(nx),
        ny_(ny),
        cells_(cells),
        used_(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny), 0) {}

  // Whether an edge leaves node (i, j) in direction d.
  bool leaves(int i, int j, int d) const {
    switch (d) {
      case kEast:
        return chosen(i, j - 1) && !chosen(i, j);
      case kNorth:
        return chosen(i, j) && !chosen(i - 1, j);
      case kWest:
        return chosen(i - 1, j) && !chosen(i - 1, j - 1);
      default:
        return chosen(i - 1, j - 1) && !chosen(i, j - 1);
    }
  }

  // The edge a ring arriving at node (i, j) in direction d goes on with. Where two chosen cells
  // meet at a corner two edges leave the node; the left turn keeps the ring with the cell it
  // came along, so both cells' boundaries join into one ring touching itself at the corner.
  int next(int i, int j, int d) const {
    for (const int turn : {1, 0, 3}) {
      const int candidate = (d + turn) % 4;
      if (leaves(i, j, candidate)) return candidate;
    }
    return -1;
  }

  bool used(int i, int j, int d) const { return (used_[index(i, j)] >> d) & 1; }
  void use(int i, int j, int d) { used_[index(i, j)] |= static_cast<std::uint8_t>(1 << d); }

 private:
  bool chosen(int i, int j) const {
    if (i < 0 || j < 0 || i >= nx_ - 1 || j >= ny_ - 1) return false;
    return cells_[static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_ - 1) +
                  static_cast<std::size_t>(i)] != 0;
  }
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) +
           static_cast<std::size_t>(i);
  }

  int nx_;
  int ny_;
  std::span<const std::uint8_t> cells_;
  std::vector<std::uint8_t> used_;  // bit d: the edge leaving the node in direction d is walked
};

}  // namespace

Line latticeOutline(const Rect& rect, int nx, int ny) {
  nx = nx < 2 ? 2 : nx;
  ny = ny < 2 ? 2 : ny;
  Line ring;
  ring.reserve(static_cast<std::size_t>(2 * (nx + ny) - 3));
  for (int j = 0; j < ny - 1; ++j)
    ring.append(Point{rect.left, along(rect.bottom, rect.top, j, ny)});
  for (int i = 0; i < nx - 1; ++i)
    ring.append(Point{along(rect.left, rect.right, i, nx), rect.top});
  for (int j = 0; j < ny - 1; ++j)
    ring.append(Point{rect.right, along(rect.top, rect.bottom, j, ny)});
  for (int i = 0; i < nx - 1; ++i)
    ring.append(Point{along(rect.right, rect.left, i, nx), rect.bottom});
  ring.append(Point{rect.left, rect.bottom});
  return ring;
}

Region cellRegion(const Rect& rect, int nx, int ny, std::span<const std::uint8_t> cells) {
  Region region;
  CellBoundary boundary(nx, ny, cells);
  const auto node = [&](int i, int j) {
    return Point{along(rect.left, rect.right, i, nx), along(rect.bottom, rect.top, j, ny)};
  };
  for (int j0 = 0; j0 < ny; ++j0) {
    for (int i0 = 0; i0 < nx; ++i0) {
      for (int d0 = 0; d0 < 4; ++d0) {
        if (!boundary.leaves(i0, j0, d0) || boundary.used(i0, j0, d0)) continue;
        // Walk the ring from this edge until the edge to go on with is the first one again.
        Line ring;
        int i = i0, j = j0, d = d0;
        do {
          boundary.use(i, j, d);
          i += kStepX[d];
          j += kStepY[d];
          const int turn = boundary.next(i, j, d);
          if (turn != d) ring.append(node(i, j));
          d = turn;
        } while (!(i == i0 && j == j0 && d == d0) && d >= 0);
        const Point first = ring[0];
        ring.append(first);
        region.appendLine(std::move(ring));
      }
    }
  }
  return region;
}

}  // namespace vellumar::geometry
