#include <algorithm>
#include <cstddef>
#include <vector>

#include "grid/Surface.h"

namespace vellumar::grid {

namespace {

// Elimination factors -1/(4 + t[k-1]) of the tridiagonal system c[k-1] + 4c[k] + c[k+1] = 6f[k],
// rounded to 11 decimals; from index 10 on the factor has converged.
constexpr double kFactors[11] = {-0.25,          -0.26666666666, -0.26785714285, -0.26794258373,
                                 -0.26794871794, -0.26794915836, -0.26794918998, -0.26794919225,
                                 -0.26794919241, -0.26794919242, -0.26794919243};

double factor(int k) {
  return kFactors[std::min(k, 10)];
}

// Element k (0 = pad, 1..n = data, n+1 = pad) of many independent 1-D systems ("lanes") at once.
// RowLanes: element k is a whole row and the lanes are its contiguous values (solve along Y).
struct RowLanes {
  double* base;
  std::size_t stride;  // distance between elements k and k+1
  std::size_t lanes;
  double* at(int k) const { return base + k * stride; }
  template <class F>
  void each(int k, F&& f) const {
    double* p = at(k);
    for (std::size_t l = 0; l < lanes; ++l) f(p + l, static_cast<std::ptrdiff_t>(stride));
  }
};

// Element k is value k of each of a few rows (solve along X); interleaving the rows hides the
// latency of the sequential recurrence.
struct ColumnLanes {
  double* base;
  std::size_t rowStride;
  std::size_t lanes;
  template <class F>
  void each(int k, F&& f) const {
    for (std::size_t l = 0; l < lanes; ++l) f(base + l * rowStride + k, std::ptrdiff_t{1});
  }
};

// Natural-end cubic-spline solve over c_1..c_n holding f_1..f_n; sets the pads c_0 and c_{n+1}.
template <class Lanes>
void solve(const Lanes& lanes, int n) {
  if (n < 2) {
    lanes.each(1, [](double* c, std::ptrdiff_t d) { c[-d] = c[d] = c[0]; });
    return;
  }
  for (int m = 3; m <= n; ++m) {
    const double t = factor(m - 3);
    lanes.each(m - 1, [t](double* c, std::ptrdiff_t d) { c[0] = (c[-d] - 6.0 * c[0]) * t; });
  }
  if (n >= 3) {
    const double t = factor(n - 3);
    lanes.each(n - 1, [t](double* c, std::ptrdiff_t d) { c[0] = c[0] + t * c[d]; });
  }
  lanes.each(n + 1, [](double* c, std::ptrdiff_t d) { c[0] = 2.0 * c[-d] - c[-2 * d]; });
  for (int j = n - 2; j >= 2; --j) {
    const double t = factor(j - 2);
    lanes.each(j, [t](double* c, std::ptrdiff_t d) { c[0] = c[0] + t * c[d]; });
  }
  lanes.each(0, [](double* c, std::ptrdiff_t d) { c[0] = 2.0 * c[d] - c[2 * d]; });
}

}  // namespace

NodeVector computeSplineCoefficients(std::span<const double> nodes, int nx, int ny) {
  const std::size_t width = static_cast<std::size_t>(nx) + 2;
  const std::size_t height = static_cast<std::size_t>(ny) + 2;
  NodeVector c(width * height, 0.0);
  for (int j = 0; j < ny; ++j) {
    std::copy_n(nodes.data() + static_cast<std::size_t>(j) * nx, nx,
                c.data() + (j + 1) * width + 1);
  }
  solve(RowLanes{c.data(), width, width}, ny);
  constexpr std::size_t kBlock = 8;
  for (std::size_t row = 0; row < height; row += kBlock) {
    solve(ColumnLanes{c.data() + row * width, width, std::min(kBlock, height - row)}, nx);
  }
  return c;
}

}  // namespace vellumar::grid
