#include "grid/AxisIntegrals.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

namespace {

// The basis of a surface mode along one axis: the weights of its taps at offset s in a cell,
// their integrals from 0 to s, and their integrals over a whole cell.
struct Basis {
  int taps;
  double whole[4];
  // tail[d]: the weights of the taps after d over a whole cell. The whole cells left of cell i
  // add up to R(i) + sum over d of tail[d] * (c[i + d] - c[d]), R(i) the plain sum of the
  // values before i, so one running sum of the values serves every cell.
  double tail[3];
  bool spline;

  void at(double s, double w[4]) const {
    if (spline) {
      detail::splineWeights(s, w);
    } else {
      w[0] = 1.0 - s;
      w[1] = s;
    }
  }

  void integrated(double s, double w[4]) const {
    const double s2 = s * s;
    if (!spline) {
      w[0] = s - 0.5 * s2;
      w[1] = 0.5 * s2;
      return;
    }
    const double s3 = s2 * s;
    const double s4 = s3 * s;
    const double r = 1.0 - s;
    w[0] = (1.0 - r * r * r * r) / 24.0;
    w[1] = (16.0 * s - 8.0 * s3 + 3.0 * s4) / 24.0;
    w[2] = (4.0 * s + 6.0 * s2 + 4.0 * s3 - 3.0 * s4) / 24.0;
    w[3] = s4 / 24.0;
  }
};

constexpr Basis kSplineBasis{4,
                             {1.0 / 24.0, 11.0 / 24.0, 11.0 / 24.0, 1.0 / 24.0},
                             {23.0 / 24.0, 12.0 / 24.0, 1.0 / 24.0},
                             true};
constexpr Basis kBilinearBasis{2, {0.5, 0.5, 0.0, 0.0}, {0.5, 0.0, 0.0}, false};

// Sum of values[from .. to), in four independent running sums so that the additions overlap.
double rangeSum(const double* values, int from, int to) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int k = from;
  for (; k + 4 <= to; k += 4) {
    s0 += values[k];
    s1 += values[k + 1];
    s2 += values[k + 2];
    s3 += values[k + 3];
  }
  for (; k < to; ++k) s0 += values[k];
  return (s0 + s1) + (s2 + s3);
}

// The whole-cell correction of Basis::tail at index i of values.
double tailAt(const Basis& basis, const double* values, int i) {
  double sum = 0.0;
  for (int d = 0; d + 1 < basis.taps; ++d) sum += basis.tail[d] * values[i + d];
  return sum;
}

// A point located in its cell: cell (i, j) and offsets s, t in step units.
struct Located {
  int i, j;
  double s, t;
};

// Points grouped by cell row: the points of row j are order[first[j] .. first[j + 1]).
struct RowBuckets {
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> first;
  int lowRow = std::numeric_limits<int>::max();
  int highRow = -1;
  int lowColumn = std::numeric_limits<int>::max();
  int highColumn = -1;
};

RowBuckets bucketByRow(const std::vector<Located>& points, const std::vector<std::uint8_t>& valid,
                       int rows) {
  RowBuckets b;
  b.first.assign(static_cast<std::size_t>(rows) + 1, 0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (!valid[k]) continue;
    const Located& p = points[k];
    ++b.first[p.j + 1];
    b.lowRow = std::min(b.lowRow, p.j);
    b.highRow = std::max(b.highRow, p.j);
    b.lowColumn = std::min(b.lowColumn, p.i);
    b.highColumn = std::max(b.highColumn, p.i);
  }
  for (int j = 0; j < rows; ++j) b.first[j + 1] += b.first[j];
  b.order.resize(b.first[rows]);
  std::vector<std::uint32_t> fill(b.first.begin(), b.first.end() - 1);
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (valid[k]) b.order[fill[points[k].j]++] = static_cast<std::uint32_t>(k);
  }
  // Each row's points from left to right.
  for (int j = 0; j < rows; ++j) {
    std::sort(b.order.begin() + b.first[j], b.order.begin() + b.first[j + 1],
              [&](std::uint32_t p, std::uint32_t q) { return points[p].i < points[q].i; });
  }
  return b;
}

// Locates every point in its cell, clamped onto the rectangle; a NaN point is marked invalid
// and gets NaN integrals.
std::vector<Located> locatePoints(const Grid& g, bool spline, std::span<const double> xs,
                                  std::span<const double> ys, std::vector<std::uint8_t>& valid,
                                  std::span<double> alongX, std::span<double> alongY) {
  const double hx = g.stepX();
  const double hy = g.stepY();
  std::vector<Located> points(xs.size());
  for (std::size_t k = 0; k < xs.size(); ++k) {
    if (std::isnan(xs[k]) || std::isnan(ys[k])) {
      valid[k] = 0;
      alongX[k] = alongY[k] = std::numeric_limits<double>::quiet_NaN();
      continue;
    }
    const double x = std::clamp(xs[k], g.left, g.right);
    const double y = std::clamp(ys[k], g.bottom, g.top);
    Located& p = points[k];
    p.i = detail::cellOf((x - g.left) / hx, g.nx(), p.s);
    p.j = detail::cellOf((y - g.bottom) / hy, g.ny(), p.t);
    if (!spline) {
      p.s = detail::bilinearOffset(x - g.left, p.i, hx);
      p.t = detail::bilinearOffset(y - g.bottom, p.j, hy);
    }
  }
  return points;
}

// The rows of the surface's data (spline coefficients or nodes), stride values apart.
struct DataRows {
  const double* data;
  std::size_t stride;
  const double* operator()(int r) const { return data + static_cast<std::size_t>(r) * stride; }
};

// What both sweeps read, and their shared progress: one step a row swept.
struct RowSweep {
  const Basis& basis;
  DataRows row;
  const std::vector<Located>& points;
  const RowBuckets& buckets;
  ProgressPacer progress;
  std::int64_t swept = 0;
  // False when the user cancels.
  bool carryOn() { return progress.advance(++swept); }
};

// The points of one cell row still to be served along a data row, taken from left to right.
struct Cursor {
  std::uint32_t next, end;
  int row;
};

// The cursor whose next point lies leftmost (the first of equals), or null when all are done.
Cursor* leftmostCursor(std::vector<Cursor>& cursors, const RowSweep& sweep) {
  Cursor* nearest = nullptr;
  for (Cursor& c : cursors) {
    if (c.next < c.end &&
        (nearest == nullptr || sweep.points[sweep.buckets.order[c.next]].i <
                                   sweep.points[sweep.buckets.order[nearest->next]].i)) {
      nearest = &c;
    }
  }
  return nearest;
}

// F: along each data row r, one running sum from the origin column serves the points of the cell
// rows r - taps + 1 ... r, taken from left to right, each with its weight for that row. Adds
// into alongX (not yet scaled by the step); false when the user cancels.
bool sweepAlongX(RowSweep& sweep, int origin, std::span<double> alongX) {
  const Basis& basis = sweep.basis;
  const RowBuckets& buckets = sweep.buckets;
  const int taps = basis.taps;
  std::vector<Cursor> cursors;
  for (int r = buckets.lowRow; r <= buckets.highRow + taps - 1; ++r) {
    cursors.clear();
    for (int j = std::max(buckets.lowRow, r - taps + 1); j <= std::min(buckets.highRow, r); ++j) {
      if (buckets.first[j] < buckets.first[j + 1]) {
        cursors.push_back({buckets.first[j], buckets.first[j + 1], j});
      }
    }
    if (cursors.empty()) continue;
    const double* values = sweep.row(r);
    const double base = tailAt(basis, values, origin);
    double sum = 0.0;  // of values[origin .. at)
    int at = origin;
    while (Cursor* nearest = leftmostCursor(cursors, sweep)) {
      const std::uint32_t k = buckets.order[nearest->next++];
      const Located& p = sweep.points[k];
      sum += rangeSum(values, at, p.i);
      at = p.i;
      double wt[4];
      double partial[4];
      basis.at(p.t, wt);
      basis.integrated(p.s, partial);
      double inCell = 0.0;
      for (int a = 0; a < taps; ++a) inCell += partial[a] * values[p.i + a];
      const double wholeCells = sum + (tailAt(basis, values, p.i) - base);
      alongX[k] += wt[r - nearest->row] * (wholeCells + inCell);
    }
    if (!sweep.carryOn()) return false;
  }
  return true;
}

// G: upward through the cell rows from the bottom row, a running sum of every data column in
// reach; the points of cell row l are served before that row is added. Writes alongY (not yet
// scaled by the step); false when the user cancels.
bool sweepAlongY(RowSweep& sweep, int bottom, std::span<double> alongY) {
  const Basis& basis = sweep.basis;
  const RowBuckets& buckets = sweep.buckets;
  const int taps = basis.taps;
  const int columnFrom = buckets.lowColumn;
  const int columnTo = buckets.highColumn + taps - 1;
  const std::size_t width = static_cast<std::size_t>(columnTo - columnFrom) + 1;
  std::vector<double> columnSum(width, 0.0);
  std::vector<double> columnBase(width, 0.0);
  for (int c = columnFrom; c <= columnTo; ++c) {
    for (int d = 0; d + 1 < taps; ++d) {
      columnBase[c - columnFrom] += basis.tail[d] * sweep.row(bottom + d)[c];
    }
  }
  for (int l = bottom; l <= buckets.highRow; ++l) {
    const double* rows[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int b = 0; b < taps; ++b) rows[b] = sweep.row(l + b);
    for (std::uint32_t n = buckets.first[l]; n < buckets.first[l + 1]; ++n) {
      const std::uint32_t k = buckets.order[n];
      const Located& p = sweep.points[k];
      double ws[4];
      double partial[4];
      basis.at(p.s, ws);
      basis.integrated(p.t, partial);
      double sum = 0.0;
      for (int a = 0; a < taps; ++a) {
        const int c = p.i + a;
        double tail = 0.0;
        for (int d = 0; d + 1 < taps; ++d) tail += basis.tail[d] * rows[d][c];
        double inCell = 0.0;
        for (int b = 0; b < taps; ++b) inCell += partial[b] * rows[b][c];
        const double wholeCells = columnSum[c - columnFrom] + (tail - columnBase[c - columnFrom]);
        sum += ws[a] * (wholeCells + inCell);
      }
      alongY[k] = sum;
    }
    if (l < buckets.highRow) {
      const double* first = rows[0] + columnFrom;
      for (std::size_t c = 0; c < width; ++c) columnSum[c] += first[c];
    }
    if (!sweep.carryOn()) return false;
  }
  return true;
}

// The sweeps work in step units; the integrals of the valid points take the steps at the end.
void scaleBySteps(const std::vector<std::uint8_t>& valid, double hx, double hy,
                  std::span<double> alongX, std::span<double> alongY) {
  for (std::size_t k = 0; k < valid.size(); ++k) {
    if (!valid[k]) continue;
    alongX[k] *= hx;
    alongY[k] *= hy;
  }
}

}  // namespace

AxisIntegrals::AxisIntegrals(const Grid& grid) : grid_(grid) {
  usable_ = detail::surfaceUsable(grid) && grid.left < grid.right && grid.bottom < grid.top;
  if (!usable_) return;
  spline_ = grid.mode() == Interpolation::Spline;
  data_ = spline_ ? grid.splineCoefficients()->data() : grid.nodes().data();
  stride_ = static_cast<std::size_t>(grid.nx()) + (spline_ ? 2 : 0);
  cellsX_ = grid.nx() - 1;
  cellsY_ = grid.ny() - 1;
}

std::int64_t AxisIntegrals::sweepRows() const {
  return usable_ ? 2 * static_cast<std::int64_t>(cellsY_) + 4 : 0;
}

AxisIntegrals::Origin AxisIntegrals::originBelow(double x, double y) const {
  if (!usable_) return {};
  const Grid& g = grid_;
  double offset = 0.0;
  const int column =
      detail::cellOf((std::clamp(x, g.left, g.right) - g.left) / g.stepX(), g.nx(), offset);
  const int row =
      detail::cellOf((std::clamp(y, g.bottom, g.top) - g.bottom) / g.stepY(), g.ny(), offset);
  return {column, row};
}

bool AxisIntegrals::evaluate(std::span<const double> xs, std::span<const double> ys,
                             std::span<double> alongX, std::span<double> alongY, Origin from,
                             ErrorSink* progress, std::int64_t progressDone) const {
  std::fill(alongX.begin(), alongX.end(), 0.0);
  std::fill(alongY.begin(), alongY.end(), 0.0);
  if (!usable_ || xs.empty()) return true;
  const Basis& basis = spline_ ? kSplineBasis : kBilinearBasis;
  std::vector<std::uint8_t> valid(xs.size(), 1);
  const std::vector<Located> points = locatePoints(grid_, spline_, xs, ys, valid, alongX, alongY);
  const RowBuckets buckets = bucketByRow(points, valid, cellsY_);
  if (buckets.highRow < 0) return true;

  RowSweep sweep{basis, DataRows{data_, stride_}, points, buckets,
                 ProgressPacer::part(progress, progressDone, 1, 1)};
  // The integrals run from the origin's lattice lines (see the header), which lie left of and
  // below every point.
  if (!sweepAlongX(sweep, std::min(from.column, buckets.lowColumn), alongX)) return false;
  if (!sweepAlongY(sweep, std::min(from.row, buckets.lowRow), alongY)) return false;
  scaleBySteps(valid, grid_.stepX(), grid_.stepY(), alongX, alongY);
  return true;
}

}  // namespace vellumar::grid
