#include "engine/PolygonIntegral.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vellumar::engine {

namespace {

// A Gauss-Legendre rule on the unit interval: nodes t and weights summing to 1.
struct Rule {
  int count;
  double t[4];
  double w[4];
};

// Four points at xi = +-0.8611363115940526 and +-0.3399810435848563, weights halved.
constexpr Rule kFourPoint{
    4,
    {0.0694318442029737, 0.3300094782075719, 0.6699905217924281, 0.9305681557970263},
    {0.1739274225687269, 0.3260725774312731, 0.3260725774312731, 0.1739274225687269}};

// Quadrature points per batch handed to the axis integrals.
constexpr std::size_t kBatch = std::size_t{1} << 20;

// Sum with the compensation of rounding errors (Neumaier), since the terms of a ring cancel to a
// much smaller total.
class CompensatedSum {
 public:
  void add(double v) {
    const double t = sum_ + v;
    compensation_ += std::fabs(sum_) >= std::fabs(v) ? (sum_ - t) + v : (v - t) + sum_;
    sum_ = t;
  }
  double value() const { return sum_ + compensation_; }

 private:
  double sum_ = 0.0;
  double compensation_ = 0.0;
};

// The whole numbers strictly between a and b that are lattice lines, 0 ... last: from first on,
// count of them (none for NaN).
struct Wholes {
  double first;
  std::int64_t count;
};

Wholes wholesBetween(double a, double b, double last) {
  const double first = std::max(std::floor(std::min(a, b)) + 1.0, 0.0);
  const double final = std::min(std::ceil(std::max(a, b)) - 1.0, last);
  if (!(final >= first)) return {first, 0};
  return {first, static_cast<std::int64_t>(final - first) + 1};
}

// How the edges of a ring are cut into the pieces the quadrature rule integrates one by one.
// Within a cell the surface is a polynomial (bicubic for the spline, bilinear otherwise), so its
// integral along an axis is a polynomial of degree at most 7 in the parameter of a straight piece
// inside the cell. The edge is therefore cut where it crosses the lines of the lattice, and the
// four-point rule, exact to degree 7, is then exact on every piece. Beyond the lattice the surface
// is taken at its edge (see AxisIntegrals), polynomial again along a piece outside, so only the
// lattice lines cut: an edge costs at most the lattice's lines, however far it runs.
class EdgeCuts {
 public:
  explicit EdgeCuts(const grid::Grid& grid)
      : left_(grid.left),
        bottom_(grid.bottom),
        hx_(grid.stepX()),
        hy_(grid.stepY()),
        lastColumn_(grid.nx() - 1),
        lastRow_(grid.ny() - 1) {}

  const Rule& rule() const { return kFourPoint; }

  // Pieces of the edge from a to b (an upper bound, as cuts may coincide).
  std::int64_t count(const geometry::Point& a, const geometry::Point& b) const {
    if (!(b.x != a.x || b.y != a.y)) return 0;
    return 1 + wholesBetween(u(a.x), u(b.x), lastColumn_).count +
           wholesBetween(v(a.y), v(b.y), lastRow_).count;
  }

  // Calls piece(t0, t1) for the pieces of the edge from a to b in order, t running from 0 at a
  // to 1 at b; nothing for an edge of length 0. Stops when piece returns false.
  template <class Piece>
  bool forEachPiece(const geometry::Point& a, const geometry::Point& b, Piece&& piece) const {
    if (count(a, b) == 0) return true;
    cuts_ = {0.0, 1.0};
    crossings(u(a.x), u(b.x), lastColumn_);
    crossings(v(a.y), v(b.y), lastRow_);
    std::sort(cuts_.begin(), cuts_.end());
    for (std::size_t k = 0; k + 1 < cuts_.size(); ++k) {
      if (cuts_[k] < cuts_[k + 1] && !piece(cuts_[k], cuts_[k + 1])) return false;
    }
    return true;
  }

 private:
  double u(double x) const { return (x - left_) / hx_; }
  double v(double y) const { return (y - bottom_) / hy_; }

  // The parameters where the coordinate, running from c0 to c1 in step units, is a lattice line.
  void crossings(double c0, double c1, double last) const {
    const Wholes wholes = wholesBetween(c0, c1, last);
    for (std::int64_t n = 0; n < wholes.count; ++n) {
      cuts_.push_back((wholes.first + static_cast<double>(n) - c0) / (c1 - c0));
    }
  }

  double left_, bottom_, hx_, hy_;
  double lastColumn_, lastRow_;       // the last lattice line of each axis, in step units
  mutable std::vector<double> cuts_;  // work space of forEachPiece
};

// Calls visit(x, y, cG, cF) for every quadrature point of every closed ring, where the integral
// is the sum of cG * G(x, y) + cF * F(x, y); stops when visit returns false.
template <class Visit>
bool forEachPoint(const geometry::Cover& region, const EdgeCuts& edges, Visit&& visit) {
  const Rule& rule = edges.rule();
  for (const geometry::Line& ring : region.lines()) {
    if (!ring.isClosed()) continue;
    const std::span<const geometry::Point> p = ring.points();
    for (std::size_t e = 0; e + 1 < p.size(); ++e) {
      const geometry::Point& a = p[e];
      const double dx = p[e + 1].x - a.x;
      const double dy = p[e + 1].y - a.y;
      const bool finished = edges.forEachPiece(a, p[e + 1], [&](double t0, double t1) {
        const double xa = a.x + t0 * dx;
        const double ya = a.y + t0 * dy;
        const double px = (t1 - t0) * dx;
        const double py = (t1 - t0) * dy;
        // (G dx - F dy) / 2 at each node, times the node's weight.
        for (int q = 0; q < rule.count; ++q) {
          if (!visit(xa + rule.t[q] * px, ya + rule.t[q] * py, 0.5 * rule.w[q] * px,
                     -0.5 * rule.w[q] * py)) {
            return false;
          }
        }
        return true;
      });
      if (!finished) return false;
    }
  }
  return true;
}

}  // namespace

PolygonIntegral::PolygonIntegral(const grid::Grid& grid, const geometry::Cover& region)
    : grid_(grid), region_(region), axes_(grid) {
  if (!axes_.usable()) return;
  const EdgeCuts edges(grid);
  const int perPiece = edges.rule().count;
  for (const geometry::Line& ring : region.lines()) {
    if (!ring.isClosed()) continue;
    const std::span<const geometry::Point> p = ring.points();
    for (std::size_t e = 0; e + 1 < p.size(); ++e)
      points_ += perPiece * edges.count(p[e], p[e + 1]);
  }
}

std::int64_t PolygonIntegral::progressTotal() const {
  const auto batch = static_cast<std::int64_t>(kBatch);
  return (points_ + batch - 1) / batch * axes_.sweepRows();
}

std::optional<double> PolygonIntegral::compute(ErrorSink* progress) const {
  if (!axes_.usable() || points_ == 0) return 0.0;
  const std::size_t capacity = std::min(kBatch, static_cast<std::size_t>(points_));
  std::vector<double> xs, ys, cg, cf;
  for (std::vector<double>* v : {&xs, &ys, &cg, &cf}) v->reserve(capacity);
  std::vector<double> alongX(capacity);
  std::vector<double> alongY(capacity);
  CompensatedSum total;
  std::int64_t done = 0;
  // The integrals along the axes are taken from the region's lower left corner, so that a small
  // region costs what it covers; every batch takes the same origin.
  const geometry::Rect& rect = region_.rect();
  const grid::AxisIntegrals::Origin origin = axes_.originBelow(rect.left, rect.bottom);
  auto flush = [&] {
    const std::size_t n = xs.size();
    if (!axes_.evaluate(xs, ys, std::span(alongX).first(n), std::span(alongY).first(n), origin,
                        progress, done)) {
      return false;
    }
    done += axes_.sweepRows();
    for (std::size_t k = 0; k < n; ++k) total.add(cg[k] * alongY[k] + cf[k] * alongX[k]);
    for (std::vector<double>* v : {&xs, &ys, &cg, &cf}) v->clear();
    return true;
  };
  const bool finished =
      forEachPoint(region_, EdgeCuts(grid_), [&](double x, double y, double forG, double forF) {
        xs.push_back(x);
        ys.push_back(y);
        cg.push_back(forG);
        cf.push_back(forF);
        return xs.size() < kBatch || flush();
      });
  if (!finished || (!xs.empty() && !flush())) return std::nullopt;
  return total.value();
}

}  // namespace vellumar::engine
