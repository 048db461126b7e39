#include "grid/Surface.h"

#include <algorithm>

#include "common/Parallel.h"
#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

double bspline(double d) {
  if (d <= -2.0 || d >= 2.0) return 0.0;
  if (d <= -1.0) return (d + 2.0) * (d + 2.0) * (d + 2.0) / 6.0;
  if (d <= 0.0) return 2.0 / 3.0 - d * d - d * d * d / 2.0;
  if (d <= 1.0) return 2.0 / 3.0 - d * d + d * d * d / 2.0;
  return (2.0 - d) * (2.0 - d) * (2.0 - d) / 6.0;
}

double bsplineD1(double d) {
  if (d <= -2.0 || d >= 2.0) return 0.0;
  if (d <= -1.0) return (d + 2.0) * (d + 2.0) / 2.0;
  if (d <= 0.0) return -2.0 * d - 1.5 * d * d;
  if (d <= 1.0) return 1.5 * d * d - 2.0 * d;
  return -(2.0 - d) * (2.0 - d) / 2.0;
}

double bsplineD2(double d) {
  if (d <= -2.0 || d >= 2.0) return 0.0;
  if (d <= -1.0) return d + 2.0;
  if (d <= 0.0) return -2.0 - 3.0 * d;
  if (d <= 1.0) return 3.0 * d - 2.0;
  return 2.0 - d;
}

SurfaceSampler::SurfaceSampler(const Grid& grid, std::span<const double> xs)
    : SurfaceSampler(grid, xs, SurfaceFrame{Lattice::of(grid)}, false) {}

SurfaceSampler::SurfaceSampler(const Grid& grid, std::span<const double> xs,
                               const SurfaceFrame& frame)
    : SurfaceSampler(grid, xs, frame, true) {}

SurfaceSampler::SurfaceSampler(const Grid& grid, std::span<const double> xs,
                               const SurfaceFrame& frame, bool window)
    : grid_(grid), frame_(frame.lattice), i0_(frame.i0), j0_(frame.j0), window_(window) {
  auto columns =
      std::make_shared<std::vector<Column>>(xs.size(), Column{-1, {0.0, 0.0, 0.0, 0.0}, false});
  columns_ = columns;
  usable_ = detail::surfaceUsable(grid) && frame_.stepX() != 0.0 && frame_.stepY() != 0.0;
  if (!usable_) return;
  const bool spline = grid.mode() == Interpolation::Spline;
  coefficients_ = spline ? grid.splineCoefficients()->data() : grid.nodes().data();
  cellLow_ = grid.nx();
  cellHigh_ = -1;
  for (std::size_t k = 0; k < xs.size(); ++k) {
    const double x = xs[k];
    if (!(x >= frame_.left && x <= frame_.right)) continue;
    Column& column = (*columns)[k];
    double s = 0.0;
    column.cell = detail::cellOf(columnOf(x), grid.nx(), s);
    column.onLeftEdge = s == 0.0 && column.cell > 0;
    if (spline) {
      detail::splineWeights(s, column.w);
    } else {
      column.w[0] = bilinearOffset(x - frame_.left, column.cell, s, frame_.stepX());
    }
    cellLow_ = std::min(cellLow_, column.cell);
    cellHigh_ = std::max(cellHigh_, column.cell);
  }
  if (spline && cellHigh_ >= 0) sums_.resize(static_cast<std::size_t>(grid.nx()) + 2);
  blanks_ = grid.hasBlanks();
  if (blanks_ && cellHigh_ >= 0) {
    blankCell_.resize(static_cast<std::size_t>(grid.nx()) - 1);
    xs_ = std::make_shared<const std::vector<double>>(xs.begin(), xs.end());
  }
}

double SurfaceSampler::bilinearOffset(double distance, int cell, double s, double step) const {
  return window_ ? s : detail::bilinearOffset(distance, cell, step);
}

void SurfaceSampler::sampleRow(double y, double* out) {
  std::fill(out, out + columns_->size(), 0.0);
  if (!usable_ || cellHigh_ < 0 || !(y >= frame_.bottom && y <= frame_.top)) return;
  double t = 0.0;
  const int j = detail::cellOf(rowOf(y), grid_.ny(), t);
  if (grid_.mode() == Interpolation::Spline) {
    sampleSplineRow(j, t, out);
  } else {
    sampleBilinearRow(j, bilinearOffset(y - frame_.bottom, j, t, frame_.stepY()), out);
  }
  if (blanks_) blankCells(j, y, t, out);
}

void SurfaceSampler::blankCells(int j, double y, double t, double* out) {
  if (j != blankRow_) {
    for (int i = cellLow_; i <= cellHigh_; ++i) blankCell_[i] = grid_.cellIsBlank(i, j);
    blankRow_ = j;
  }
  const bool onBottomEdge = t == 0.0 && j > 0;
  for (std::size_t k = 0; k < columns_->size(); ++k) {
    const Column& column = (*columns_)[k];
    if (column.cell < 0 || !blankCell_[column.cell]) continue;
    // A point on an edge may belong to a valid neighbour: rare, so read it point by point.
    out[k] = onBottomEdge || column.onLeftEdge ? pointValue((*xs_)[k], y) : kBlankValue;
  }
}

double SurfaceSampler::pointValue(double x, double y) const {
  int i = 0;
  int j = 0;
  double s = 0.0;
  double t = 0.0;
  if (!detail::surfaceCell(grid_, columnOf(x), rowOf(y), i, j, s, t)) return kBlankValue;
  if (grid_.mode() == Interpolation::Spline) {
    return detail::splineAt(coefficients_, static_cast<std::size_t>(grid_.nx()) + 2, i, j, s, t);
  }
  const double* low = coefficients_ + static_cast<std::size_t>(j) * grid_.nx() + i;
  return detail::bilinear(low, low + grid_.nx(),
                          bilinearOffset(x - frame_.left, i, s, frame_.stepX()),
                          bilinearOffset(y - frame_.bottom, j, t, frame_.stepY()));
}

void SurfaceSampler::sampleSplineRow(int j, double t, double* out) {
  double wt[4];
  detail::splineWeights(t, wt);
  const std::size_t stride = static_cast<std::size_t>(grid_.nx()) + 2;
  const double* r0 = coefficients_ + static_cast<std::size_t>(j) * stride;
  const double* r1 = r0 + stride;
  const double* r2 = r1 + stride;
  const double* r3 = r2 + stride;
  for (int c = cellLow_; c <= cellHigh_ + 3; ++c) {
    sums_[c] = ((wt[0] * r0[c] + wt[1] * r1[c]) + wt[2] * r2[c]) + wt[3] * r3[c];
  }
  for (std::size_t k = 0; k < columns_->size(); ++k) {
    const Column& column = (*columns_)[k];
    if (column.cell < 0) continue;
    const double* s = sums_.data() + column.cell;
    out[k] = ((column.w[0] * s[0] + column.w[1] * s[1]) + column.w[2] * s[2]) + column.w[3] * s[3];
  }
}

void SurfaceSampler::sampleBilinearRow(int j, double t, double* out) {
  const std::size_t nx = static_cast<std::size_t>(grid_.nx());
  const double* low = coefficients_ + static_cast<std::size_t>(j) * nx;
  const double* high = low + nx;
  for (std::size_t k = 0; k < columns_->size(); ++k) {
    const Column& column = (*columns_)[k];
    if (column.cell < 0) continue;
    out[k] = detail::bilinear(low + column.cell, high + column.cell, column.w[0], t);
  }
}

NodeVector sampleLattice(const Grid& grid, std::span<const double> xs, std::span<const double> ys,
                         ErrorSink* progress) {
  if (!grid.prepareSurface(progress)) return NodeVector();
  NodeVector out(xs.size() * ys.size());
  const SurfaceSampler sampler(grid, xs);
  ProgressPacer pacer(progress, static_cast<std::int64_t>(out.size()));
  const bool done = parallel::forEachRowBlock(ys.size(), xs.size(), pacer,
                                              [&](std::size_t rowBegin, std::size_t rowEnd) {
                                                SurfaceSampler rows(sampler);
                                                for (std::size_t r = rowBegin; r < rowEnd; ++r)
                                                  rows.sampleRow(ys[r], out.data() + r * xs.size());
                                              });
  if (!done) return NodeVector();
  return out;
}

}  // namespace vellumar::grid
