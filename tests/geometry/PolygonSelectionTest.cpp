#include <algorithm>
#include <limits>
#include <random>

#include "TestShapes.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonSelection.h"

namespace vellumar::geometry {
namespace {

using namespace test;

// The selection rule point by point, from the single-point rules: the reference every batch and
// scanline result is held against.
bool reference(const Cover& region, double x, double y, RectBounds bounds) {
  return inRect(region.rect(), x, y, bounds) && insideInnermost(region, x, y);
}

std::vector<double> axis(double low, double step, int count) {
  std::vector<double> v;
  for (int i = 0; i < count; ++i) v.push_back(low + i * step);
  return v;
}

// Expects the lattice mask to equal the reference at every node; returns the selected count.
int expectLatticeMatches(const Cover& region, const std::vector<double>& xs,
                         const std::vector<double>& ys, RectBounds bounds) {
  std::vector<std::uint8_t> mask(xs.size() * ys.size(), 7), expected;
  EXPECT_TRUE(selectLattice(region, xs, ys, bounds, mask));
  for (const double y : ys) {
    for (const double x : xs) expected.push_back(reference(region, x, y, bounds));
  }
  EXPECT_EQ(mask, expected);
  return static_cast<int>(std::count(expected.begin(), expected.end(), 1));
}

// A star-shaped ring of n vertices around (cx, cy) with radii in [low, high], each vertex moved
// onto the lattice: onto a node, or onto a grid line (one coordinate on the lattice).
Line latticeStar(std::mt19937& rng, double cx, double cy, double low, double high, int n,
                 const std::vector<double>& xs, const std::vector<double>& ys, double step) {
  std::uniform_real_distribution<double> radius(low, high);
  std::uniform_int_distribution<int> how(0, 2);
  auto nearest = [&](const std::vector<double>& v, double c) {
    const auto k = std::clamp<long>(std::lround((c - v[0]) / step), 0, long(v.size()) - 1);
    return v[static_cast<std::size_t>(k)];
  };
  std::vector<Point> p;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n;
    const double r = radius(rng);
    double x = cx + r * std::cos(a);
    double y = cy + r * std::sin(a);
    const int mode = how(rng);
    if (mode != 1) x = nearest(xs, x);
    if (mode != 2) y = nearest(ys, y);
    if (!p.empty() && p.back().x == x && p.back().y == y) continue;
    p.push_back({x, y});
  }
  p.push_back(p.front());
  return Line(std::move(p));
}

TEST(LatticeSelection, EqualsTheInnermostRuleOnLatticeAlignedPolygons) {
  std::mt19937 rng(11);
  // Steps that are not binary fractions, so node coordinates carry rounding, as real grids do.
  const double step = 0.3;
  const std::vector<double> xs = axis(-1.0, step, 41);
  const std::vector<double> ys = axis(-2.0, step, 37);
  int built = 0;
  int selected = 0;
  for (int attempt = 0; attempt < 400 && built < 60; ++attempt) {
    // An outer ring, a hole inside it, an island in the hole, and a second outer ring.
    Cover cover;
    cover.appendLine(latticeStar(rng, 5.0, 3.0, 3.5, 5.5, 24, xs, ys, step));
    cover.appendLine(latticeStar(rng, 5.0, 3.0, 1.6, 2.8, 14, xs, ys, step));
    cover.appendLine(latticeStar(rng, 5.0, 3.0, 0.3, 1.0, 7, xs, ys, step));
    cover.appendLine(latticeStar(rng, 5.0, 9.1, 0.6, 1.2, 9, xs, ys, step));
    Region region;
    if (!buildRegion(cover, region)) continue;
    ++built;
    for (const RectBounds bounds : {RectBounds::Excluded, RectBounds::Included}) {
      selected += expectLatticeMatches(region, xs, ys, bounds);
    }
  }
  EXPECT_GE(built, 30);
  EXPECT_GT(selected, 1000);
}

TEST(LatticeSelection, EqualsTheRuleOnAnyCoverAndAxesInAnyOrder) {
  std::mt19937 rng(5);
  std::vector<double> xs = axis(0.0, 0.5, 13);
  std::vector<double> ys = axis(0.0, 0.5, 13);
  // The rule holds for any lines, valid polygon or not: crossing rings and an open line.
  // Kept inside the lattice, so that rows and columns outside the cover's rectangle are met too.
  const Cover crossing = coverOf({polyline({{1, 1}, {5, 5}, {5, 1}, {1, 5}, {1, 1}}),
                                  squareRing(2, 2, 4, 4), polyline({{1, 3}, {5, 3.5}})});
  expectLatticeMatches(crossing, xs, ys, RectBounds::Excluded);
  expectLatticeMatches(crossing, xs, ys, RectBounds::Included);
  // Reversed and shuffled coordinates and NaN nodes give the same flags per node.
  const Region region = regionOf({squareRing(0, 0, 6, 6), squareRing(2, 2, 4, 4)});
  std::reverse(xs.begin(), xs.end());
  std::shuffle(ys.begin(), ys.end(), rng);
  xs[3] = std::numeric_limits<double>::quiet_NaN();
  ys[5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_GT(expectLatticeMatches(region, xs, ys, RectBounds::Included), 0);
  EXPECT_GT(expectLatticeMatches(region, xs, ys, RectBounds::Excluded), 0);
}

TEST(PolygonSelection, VerticesHolesIslandsAndTheRectangleBounds) {
  // Outer 0..10 clockwise, hole 2..8, island 4..6 (given in any direction).
  const Region region = regionOf(
      {squareRing(0, 0, 10, 10, true), squareRing(2, 2, 8, 8, true), squareRing(4, 4, 6, 6)});
  const PointSelection strict(region, RectBounds::Excluded);
  const PointSelection inclusive(region, RectBounds::Included);
  // A vertex of a hole is outside; a vertex of the island inside; inside the hole outside. On
  // the region's rectangle nothing is selected strictly, even on a vertex of the outer ring.
  const struct {
    double x, y;
    bool strict, inclusive;
  } cases[] = {
      {2, 2, false, false},    {8, 8, false, false}, {4, 6, true, true},  {5, 5, true, true},
      {3, 3, false, false},    {1, 1, true, true},   {0, 0, false, true}, {10, 10, false, true},
      {0, 5, false, false},    {5, 0, false, true},  // the bottom edge belongs to the ring
      {5, 10, false, false},                         // the top edge does not
      {10.5, 5, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strict.selected(c.x, c.y), c.strict) << c.x << ' ' << c.y;
    EXPECT_EQ(inclusive.selected(c.x, c.y), c.inclusive) << c.x << ' ' << c.y;
  }

  // The batch form gives the same answers as single points.
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> half(-2, 22);
  std::vector<double> xs, ys;
  for (int k = 0; k < 3000; ++k) {
    xs.push_back(half(rng) * 0.5);
    ys.push_back(half(rng) * 0.5);
  }
  for (const RectBounds bounds : {RectBounds::Excluded, RectBounds::Included}) {
    const PointSelection selection(region, bounds);
    std::vector<std::uint8_t> flags(xs.size()), expected;
    ASSERT_TRUE(selection.select(xs, ys, flags));
    for (std::size_t k = 0; k < xs.size(); ++k)
      expected.push_back(reference(region, xs[k], ys[k], bounds));
    EXPECT_EQ(flags, expected);
  }
  // An empty region selects nothing.
  std::vector<std::uint8_t> none(4, 1);
  EXPECT_TRUE(selectLattice(Cover{}, axis(0, 1, 2), axis(0, 1, 2), RectBounds::Included, none));
  EXPECT_EQ(std::count(none.begin(), none.end(), 0), 4);
}

// Cancels once the done count reaches the given step.
class CancelAt final : public ProgressObserver {
 public:
  explicit CancelAt(std::int64_t step) : step_(step) {}
  void start(std::string_view, std::int64_t) override {}
  bool step(std::int64_t done) override { return done < step_; }
  void close() override {}

 private:
  std::int64_t step_;
};

TEST(PolygonSelection, StopsWhenCancelled) {
  const Region region = regionOf({squareRing(0, 0, 10, 10)});
  const std::vector<double> xs = axis(0, 0.1, 101);
  CancelAt observer(5);
  ErrorSink sink(&observer);
  sink.progressStart("rows", 101);
  std::vector<std::uint8_t> mask(xs.size() * xs.size());
  EXPECT_FALSE(selectLattice(region, xs, xs, RectBounds::Excluded, mask, &sink));
  EXPECT_EQ(sink.code(), sink_code::kCancelled);

  ErrorSink points(&observer);
  points.progressStart("points", 100000);
  std::vector<double> many(100000, 5.0);
  std::vector<std::uint8_t> flags(many.size());
  EXPECT_FALSE(PointSelection(region, RectBounds::Excluded).select(many, many, flags, &points));
  EXPECT_EQ(points.code(), sink_code::kCancelled);
}

}  // namespace
}  // namespace vellumar::geometry
