#include "grid/Derivatives.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "common/Parallel.h"
#include "grid/GridArithmetic.h"
#include "grid/Lattice.h"
#include "grid/Surface.h"
#include "grid/SurfaceKernel.h"

namespace vellumar::grid {

namespace {

constexpr double kPi = 3.14159265359;

// x^(3/2), with x^3 by repeated multiplication.
double power32(double x) {
  return std::sqrt(x * x * x);
}

int signOf(double v) {
  return (v > 0.0) - (v < 0.0);
}

// Slope direction in degrees, measured as the users' maps have always shown it.
double aspect(const LocalDerivatives& d) {
  const int sp = signOf(d.p);
  const int sq = signOf(d.q);
  const int quadrant = -90 * (1 - std::abs(sp)) * (1 - sq) + 180 * (1 + sp);
  return quadrant - sp * (180.0 / kPi) * std::acos(-d.q / std::sqrt(d.p * d.p + d.q * d.q));
}

// The terms the curvatures share, each computed once per node; a code that needs only some of
// them lets the compiler drop the rest.
struct CurvatureTerms {
  explicit CurvatureTerms(const LocalDerivatives& d)
      : p2(d.p * d.p), q2(d.q * d.q), pq(d.p * d.q), g(p2 + q2), w(1.0 + g) {
    const double pqs = 2.0 * pq * d.s;
    sqrtW = std::sqrt(w);
    w32 = power32(w);
    horizontalNumerator = q2 * d.r - pqs + p2 * d.t;
    verticalNumerator = p2 * d.r + pqs + q2 * d.t;
    meanNumerator = (1.0 + q2) * d.r - pqs + (1.0 + p2) * d.t;
  }

  double p2, q2, pq, g, w;
  double sqrtW, w32;
  double horizontalNumerator, verticalNumerator, meanNumerator;
};

double meanCurvature(const CurvatureTerms& k) {
  return -k.meanNumerator / (2.0 * k.w32);
}

// Unsphericity sqrt(H^2 - K): the first term is weighted by w (not divided by it), which is what
// makes H - M and H + M the principal curvatures of the surface.
double unsphericity(const LocalDerivatives& d, const CurvatureTerms& k) {
  const double a = std::sqrt((1.0 + k.q2) / (1.0 + k.p2));
  const double first = a * d.r - d.t / a;
  const double second =
      a * k.pq * d.r - 2.0 * std::sqrt((1.0 + k.p2) * (1.0 + k.q2)) * d.s + k.pq * d.t / a;
  return std::sqrt(first * first * k.w + second * second) / (2.0 * k.w32);
}

double differenceCurvature(const CurvatureTerms& k) {
  return k.horizontalNumerator / (k.g * k.sqrtW) - k.meanNumerator / (2.0 * k.w32);
}

// Always inlined: in the node kernels n is a constant, so only the terms it needs are computed.
[[gnu::always_inline]] inline double special(int n, const LocalDerivatives& d) {
  const CurvatureTerms k(d);
  switch (n) {
    case 1:
      return std::sqrt(k.g);
    case 2:
      return d.r * d.r + 2.0 * d.s * d.s + d.t * d.t;
    case 3:
      return std::atan(std::sqrt(k.g)) * 180.0 / kPi;
    case 4:
      return std::sqrt(k.g) / k.sqrtW;
    case 5:
      return aspect(d);
    case 6:
      return meanCurvature(k);
    case 7:
      return unsphericity(d, k);
    case 8:
      return differenceCurvature(k);
    case 9:
      return -k.horizontalNumerator / (k.g * k.sqrtW);
    case 10:
      return -k.horizontalNumerator / power32(k.g);
    case 11:
      return -k.verticalNumerator / (k.g * k.w32);
    case 12:
      return ((k.p2 - k.q2) * d.s - k.pq * (d.r - d.t)) / power32(k.g);
    case 13:
      return unsphericity(d, k) - differenceCurvature(k);
    case 14:
      return unsphericity(d, k) + differenceCurvature(k);
    case 15:
      return meanCurvature(k) - unsphericity(d, k);
    case 16:
      return meanCurvature(k) + unsphericity(d, k);
    default:
      return (d.r * d.t - d.s * d.s) / (k.w * k.w);
  }
}

[[gnu::always_inline]] inline double localValue(int code, const LocalDerivatives& d) {
  switch (code) {
    case 1:
      return d.p;
    case 2:
      return d.q;
    case 3:
      return d.r;
    case 4:
      return d.s;
    case 5:
      return d.t;
    default:
      return special(code - 5, d);
  }
}

// ---- blank stencils ----

// Which nodes of a grid with blanks have a blank node in their 3 x 3 stencil (clipped to the
// grid): their derivatives would read the surface of a blank cell, so they are blank. One row at
// a time, with scratch space of its own so that bands of rows can be done at once.
class BlankStencils {
 public:
  explicit BlankStencils(const Grid& grid)
      : grid_(grid), column_(static_cast<std::size_t>(grid.nx())) {}

  // out[i] is 1 where node (i, j) has a blank in its stencil.
  void row(int j, std::vector<std::uint8_t>& out) {
    const int nx = grid_.nx();
    out.resize(static_cast<std::size_t>(nx));
    const int j0 = std::max(j - 1, 0);
    const int j1 = std::min(j + 1, grid_.ny() - 1);
    for (int i = 0; i < nx; ++i) {
      bool blank = false;
      for (int l = j0; l <= j1; ++l) blank |= isBlank(grid_.node(i, l));
      column_[i] = blank;
    }
    for (int i = 0; i < nx; ++i) {
      out[i] = column_[i] || (i > 0 && column_[i - 1]) || (i + 1 < nx && column_[i + 1]);
    }
  }

 private:
  const Grid& grid_;
  std::vector<std::uint8_t> column_;  // per column: a blank among the three rows
};

// Sets the nodes with a blank in their stencil to kBlankValue.
void blankStencilNodes(const Grid& grid, double* out) {
  BlankStencils stencils(grid);
  std::vector<std::uint8_t> blank;
  const std::size_t nx = static_cast<std::size_t>(grid.nx());
  for (int j = 0; j < grid.ny(); ++j) {
    stencils.row(j, blank);
    for (std::size_t i = 0; i < nx; ++i) {
      if (blank[i]) out[static_cast<std::size_t>(j) * nx + i] = kBlankValue;
    }
  }
}

// ---- spline surface ----

// The spline derivatives exactly at the node whose 3 x 3 coefficients start at the rows below
// (m), at (z) and above (p) it, each pointing at the column left of the node.
[[gnu::always_inline]] inline LocalDerivatives nodeStencil(const double* m, const double* z,
                                                           const double* p, double hx, double hy) {
  const double columnLeft = m[0] + 4.0 * z[0] + p[0];
  const double columnAt = m[1] + 4.0 * z[1] + p[1];
  const double columnRight = m[2] + 4.0 * z[2] + p[2];
  const double rowBelow = m[0] + 4.0 * m[1] + m[2];
  const double rowAt = z[0] + 4.0 * z[1] + z[2];
  const double rowAbove = p[0] + 4.0 * p[1] + p[2];
  LocalDerivatives d;
  d.p = (columnRight - columnLeft) / (12.0 * hx);
  d.q = (rowAbove - rowBelow) / (12.0 * hy);
  d.r = (columnLeft - 2.0 * columnAt + columnRight) / (6.0 * hx * hx);
  d.t = (rowBelow - 2.0 * rowAt + rowAbove) / (6.0 * hy * hy);
  d.s = (p[2] - m[2] - p[0] + m[0]) / (4.0 * hx * hy);
  return d;
}

// The largest magnitude among the values, blank ones left out: from their range, which rangeOf
// scans in parallel blocks; 0 when every value is blank.
double largestMagnitude(std::span<const double> values) {
  const Range range = rangeOf(values);
  return range.min <= range.max ? std::max(std::abs(range.min), std::abs(range.max)) : 0.0;
}

// Derivatives smaller than the rounding of the spline solve (whose factor table is exact to 11
// decimals) are noise: a flat grid would otherwise get arbitrary slopes of 1e-11 and from them
// arbitrary aspects and curvatures instead of the NaN of a degenerate slope.
struct NoiseFloor {
  double p, q, r, s, t;

  NoiseFloor(const Grid& grid, double hx, double hy) {
    const double e = 1e-9 * largestMagnitude(grid.nodes());
    p = e / hx, q = e / hy, r = e / (hx * hx), s = e / (hx * hy), t = e / (hy * hy);
  }

  [[gnu::always_inline]] LocalDerivatives clean(LocalDerivatives d) const {
    if (std::abs(d.p) < p) d.p = 0.0;
    if (std::abs(d.q) < q) d.q = 0.0;
    if (std::abs(d.r) < r) d.r = 0.0;
    if (std::abs(d.s) < s) d.s = 0.0;
    if (std::abs(d.t) < t) d.t = 0.0;
    return d;
  }
};

// The range of the derivative nodes that rows(rowBegin, rowEnd) computes, over every row of the
// grid in parallel blocks of rows (a grid of few rows on the calling thread); meaningless when the
// pacer stopped them.
template <class Rows>
Range derivativeRows(const Grid& grid, ProgressPacer& pacer, Rows&& rows) {
  Range range{kMinMaxStart, -kMinMaxStart};
  parallel::reduceRowBlocks(
      static_cast<std::size_t>(grid.ny()), static_cast<std::size_t>(grid.nx()), pacer, range,
      [&](std::size_t rowBegin, std::size_t rowEnd) {
        return rows(static_cast<int>(rowBegin), static_cast<int>(rowEnd));
      },
      [](Range total, const Range& block) {
        total.add(block);
        return total;
      });
  return range;
}

// Fills out with the value of Code at the nodes of rows [rowBegin, rowEnd) of a spline-mode grid
// whose coefficients are computed; returns their range. With Blanks, a node with a blank in its
// stencil is blank.
template <int Code, bool Blanks>
Range splineDerivativeNodes(const Grid& grid, const NoiseFloor& noise, double* out, int rowBegin,
                            int rowEnd) {
  const std::size_t nx = static_cast<std::size_t>(grid.nx());
  const std::size_t stride = nx + 2;
  const double* c = grid.splineCoefficients()->data();
  const double hx = grid.stepX();
  const double hy = grid.stepY();
  std::optional<BlankStencils> stencils;
  std::vector<std::uint8_t> blank;
  if constexpr (Blanks) stencils.emplace(grid);
  Range range{kMinMaxStart, -kMinMaxStart};
  for (int j = rowBegin; j < rowEnd; ++j) {
    const double* m = c + static_cast<std::size_t>(j) * stride;
    const double* z = m + stride;
    const double* p = z + stride;
    double* row = out + static_cast<std::size_t>(j) * nx;
    if constexpr (Blanks) stencils->row(j, blank);
    for (std::size_t i = 0; i < nx; ++i) {
      if constexpr (Blanks) {
        if (blank[i]) {
          row[i] = kBlankValue;
          continue;
        }
      }
      const double v = localValue(Code, noise.clean(nodeStencil(m + i, z + i, p + i, hx, hy)));
      row[i] = v;
      range.add(v);
    }
  }
  return range;
}

using NodeKernel = Range (*)(const Grid&, const NoiseFloor&, double*, int, int);

template <bool Blanks, std::size_t... I>
constexpr std::array<NodeKernel, sizeof...(I)> splineKernels(std::index_sequence<I...>) {
  return {&splineDerivativeNodes<static_cast<int>(I) + 1, Blanks>...};
}

constexpr std::array<NodeKernel, kLastDerivativeCode> kSplineKernels =
    splineKernels<false>(std::make_index_sequence<kLastDerivativeCode>{});
constexpr std::array<NodeKernel, kLastDerivativeCode> kSplineKernelsAroundBlanks =
    splineKernels<true>(std::make_index_sequence<kLastDerivativeCode>{});

// The derivative nodes of a spline-mode grid whose coefficients are computed, in blocks of rows
// at once: every node depends only on the shared, read-only coefficients.
Range splineDerivativeGrid(const Grid& grid, int code, double* out, ProgressPacer& pacer) {
  const NoiseFloor noise(grid, grid.stepX(), grid.stepY());
  const NodeKernel kernel = (grid.hasBlanks() ? kSplineKernelsAroundBlanks
                                              : kSplineKernels)[static_cast<std::size_t>(code - 1)];
  return derivativeRows(grid, pacer, [&](int rowBegin, int rowEnd) {
    return kernel(grid, noise, out, rowBegin, rowEnd);
  });
}

// The B-spline pieces B, B' or B'' (order 0, 1, 2) at the offsets s + 1, s, s - 1, s - 2 of a
// point from the four knots around its cell (s in [0, 1]): each offset lies on a known piece.
void pieceWeights(int order, double s, double w[4]) {
  const double r = 1.0 - s;
  switch (order) {
    case 0:
      w[0] = r * r * r / 6.0;
      w[1] = 2.0 / 3.0 - s * s + s * s * s / 2.0;
      w[2] = 2.0 / 3.0 - r * r + r * r * r / 2.0;
      w[3] = s * s * s / 6.0;
      return;
    case 1:
      w[0] = -r * r / 2.0;
      w[1] = 1.5 * s * s - 2.0 * s;
      w[2] = 2.0 * r - 1.5 * r * r;
      w[3] = s * s / 2.0;
      return;
    default:
      w[0] = r;
      w[1] = 3.0 * s - 2.0;
      w[2] = 1.0 - 3.0 * s;
      w[3] = s;
      return;
  }
}

// The spline sum over the 4 x 4 coefficients around the point (u, v) in node units: the cell
// holding the point as for the surface value, so the coefficients read are never past the pads;
// kBlankValue where the surface is blank.
double splineDerivative(const Grid& grid, Derivative derivative, double u, double v) {
  const double hx = grid.stepX();
  const double hy = grid.stepY();
  int orderX = 0;
  int orderY = 0;
  double scale = 1.0;
  switch (derivative) {
    case Derivative::X:
      orderX = 1, scale = 1.0 / hx;
      break;
    case Derivative::Y:
      orderY = 1, scale = 1.0 / hy;
      break;
    case Derivative::XX:
      orderX = 2, scale = 1.0 / (hx * hx);
      break;
    case Derivative::XY:
      orderX = 1, orderY = 1, scale = 1.0 / (hx * hy);
      break;
    case Derivative::YY:
      orderY = 2, scale = 1.0 / (hy * hy);
      break;
  }
  int i = 0;
  int j = 0;
  double s = 0.0;
  double t = 0.0;
  if (!detail::surfaceCell(grid, u, v, i, j, s, t)) return kBlankValue;
  double wx[4];
  double wy[4];
  pieceWeights(orderX, s, wx);
  pieceWeights(orderY, t, wy);
  const std::size_t stride = static_cast<std::size_t>(grid.nx()) + 2;
  const double* row = grid.splineCoefficients()->data() + static_cast<std::size_t>(j) * stride + i;
  double sum = 0.0;
  for (int b = 0; b < 4; ++b, row += stride) {
    sum += wy[b] * (((wx[0] * row[0] + wx[1] * row[1]) + wx[2] * row[2]) + wx[3] * row[3]);
  }
  return scale * sum;
}

// ---- bilinear surface ----

// u rounded to the nearest whole number when it lies within rounding of it.
double snapToNode(double u) {
  const double nearest = std::nearbyint(u);
  return std::abs(u - nearest) <= 1e-9 ? nearest : u;
}

// The corner values of the cell owning (u, v) (node units) and the offsets inside it.
struct Cell {
  double f00, f10, f01, f11;
  double s, t;  // offsets in step units
};

// A cell without a surface (a blank corner) has NaN corners, so that every derivative read from
// it is NaN.
Cell cellAt(const Grid& grid, double u, double v) {
  Cell cell{};
  int i = 0;
  int j = 0;
  if (!detail::surfaceCell(grid, u, v, i, j, cell.s, cell.t)) {
    cell.f00 = cell.f10 = cell.f01 = cell.f11 = std::numeric_limits<double>::quiet_NaN();
    return cell;
  }
  cell.f00 = grid.node(i, j);
  cell.f10 = grid.node(i + 1, j);
  cell.f01 = grid.node(i, j + 1);
  cell.f11 = grid.node(i + 1, j + 1);
  return cell;
}

bool insideNodes(const Grid& grid, double u, double v) {
  return u >= 0.0 && u <= grid.nx() - 1 && v >= 0.0 && v <= grid.ny() - 1;
}

// First derivative along X (alongX) or Y at (u, v) in node units; 0 outside the grid.
double bilinearFirst(const Grid& grid, bool alongX, double u, double v) {
  if (!insideNodes(grid, u, v)) return 0.0;
  const double hx = grid.stepX();
  const double hy = grid.stepY();
  const Cell c = cellAt(grid, u, v);
  const double cross = c.f11 - c.f10 - c.f01 + c.f00;
  if (alongX) return (c.f10 - c.f00) / hx + cross * (c.t * hy) / (hx * hy);
  return (c.f01 - c.f00) / hy + cross * (c.s * hx) / (hx * hy);
}

double bilinearDerivative(const Grid& grid, Derivative derivative, double u, double v) {
  const double hx = grid.stepX();
  const double hy = grid.stepY();
  switch (derivative) {
    case Derivative::X:
      return bilinearFirst(grid, true, u, v);
    case Derivative::Y:
      return bilinearFirst(grid, false, u, v);
    case Derivative::XX:
      return (bilinearFirst(grid, true, u + 0.5, v) - bilinearFirst(grid, true, u - 0.5, v)) / hx;
    case Derivative::YY:
      return (bilinearFirst(grid, false, u, v + 0.5) - bilinearFirst(grid, false, u, v - 0.5)) / hy;
    case Derivative::XY: {
      const Cell c = cellAt(grid, u, v);
      return (c.f11 - c.f10 - c.f01 + c.f00) / (hx * hy);
    }
  }
  return 0.0;
}

// Only the derivatives a code needs: all five for the special functions.
LocalDerivatives bilinearLocal(const Grid& grid, int code, double u, double v) {
  const bool all = code >= kFirstSpecialCode;
  LocalDerivatives d;
  if (all || code == 1) d.p = bilinearDerivative(grid, Derivative::X, u, v);
  if (all || code == 2) d.q = bilinearDerivative(grid, Derivative::Y, u, v);
  if (all || code == 3) d.r = bilinearDerivative(grid, Derivative::XX, u, v);
  if (all || code == 4) d.s = bilinearDerivative(grid, Derivative::XY, u, v);
  if (all || code == 5) d.t = bilinearDerivative(grid, Derivative::YY, u, v);
  return d;
}

Range bilinearDerivativeNodes(const Grid& grid, int code, double* out, ProgressPacer& pacer) {
  const std::size_t nx = static_cast<std::size_t>(grid.nx());
  const bool blanks = grid.hasBlanks();
  return derivativeRows(grid, pacer, [&](int rowBegin, int rowEnd) {
    Range range{kMinMaxStart, -kMinMaxStart};
    BlankStencils stencils(grid);
    std::vector<std::uint8_t> blank(nx, 0);
    for (int j = rowBegin; j < rowEnd; ++j) {
      if (blanks) stencils.row(j, blank);
      for (int i = 0; i < grid.nx(); ++i) {
        const double v = blank[i] ? kBlankValue : localValue(code, bilinearLocal(grid, code, i, j));
        out[static_cast<std::size_t>(j) * nx + i] = v;
        range.add(v);
      }
    }
    return range;
  });
}

}  // namespace

double derivativeAt(const Grid& grid, Derivative derivative, double x, double y) {
  if (!detail::surfaceUsable(grid)) return 0.0;
  if (!(x >= grid.left && x <= grid.right && y >= grid.bottom && y <= grid.top)) return 0.0;
  const double u = (x - grid.left) / grid.stepX();
  const double v = (y - grid.bottom) / grid.stepY();
  if (grid.mode() == Interpolation::Bilinear) {
    if (grid.blankAt(x, y)) return kBlankValue;
    // A cell read aside (second derivatives) may be blank where the point's own is not.
    const double d = bilinearDerivative(grid, derivative, snapToNode(u), snapToNode(v));
    return std::isnan(d) && grid.hasBlanks() ? kBlankValue : d;
  }
  return splineDerivative(grid, derivative, u, v);
}

Grid derivativeGrid(const Grid& grid, int code, ErrorSink* progress) {
  code = std::clamp(code, 1, kLastDerivativeCode);
  if (!grid.prepareSurface(progress)) return Grid();
  NodeVector values(grid.nodeCount());
  ProgressPacer pacer(progress, static_cast<std::int64_t>(values.size()));
  Range range{kMinMaxStart, -kMinMaxStart};
  if (!detail::surfaceUsable(grid)) {
    // No surface to differentiate: the derivatives are 0, as the point evaluators give.
    std::fill(values.begin(), values.end(), localValue(code, LocalDerivatives{}));
    if (grid.hasBlanks()) blankStencilNodes(grid, values.data());
    for (const double v : values) range.add(v);
  } else if (grid.mode() == Interpolation::Bilinear) {
    range = bilinearDerivativeNodes(grid, code, values.data(), pacer);
  } else {
    range = splineDerivativeGrid(grid, code, values.data(), pacer);
  }
  if (progress != nullptr && progress->failed()) return Grid();
  return Lattice::of(grid).holding(std::move(values), range, grid.georeference, grid.mode());
}

}  // namespace vellumar::grid
