#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "../geometry/TestShapes.h"
#include "../grid/GridTestSupport.h"
#include "EvaluationHelpers.h"
#include "engine/PolygonIntegral.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine {
namespace {

using geometry::test::squareRing;
using grid::testing::latticeIntegral;
using grid::testing::makeGrid;

// A star-shaped ring of n vertices around (cx, cy) with random radii in [low, high].
geometry::Line star(std::mt19937& rng, double cx, double cy, double low, double high, int n) {
  std::uniform_real_distribution<double> radius(low, high);
  return geometry::test::starRing(n, cx, cy, [&](double) { return radius(rng); });
}

// Random polygons inside [0, 10] x [0, 8]: an outer ring with a hole holding an island, and a
// second outer ring.
geometry::Region randomRegion(std::mt19937& rng) {
  std::uniform_int_distribution<int> count(5, 40);
  for (;;) {
    geometry::Cover cover;
    cover.appendLine(star(rng, 4.0, 4.0, 2.6, 3.8, count(rng)));
    cover.appendLine(star(rng, 4.1, 3.9, 1.2, 2.2, count(rng)));
    cover.appendLine(star(rng, 4.1, 3.9, 0.2, 0.8, count(rng)));
    cover.appendLine(star(rng, 8.6, 6.0, 0.5, 1.3, count(rng)));
    geometry::Region region;
    if (geometry::buildRegion(cover, region)) return region;
  }
}

// Area, first moments and the moment of x y of the region, from its vertices: rings
// counter-clockwise count positive, so the negated sums give the enclosed area with holes left
// out.
struct Moments {
  double area = 0.0, x = 0.0, y = 0.0, xy = 0.0;
};
Moments momentsOf(const geometry::Cover& region) {
  Moments m;
  for (const geometry::Line& ring : region.lines()) {
    const auto p = ring.points();
    for (std::size_t i = 0; i + 1 < p.size(); ++i) {
      const double cross = p[i].x * p[i + 1].y - p[i + 1].x * p[i].y;
      m.area -= cross / 2;
      m.x -= (p[i].x + p[i + 1].x) * cross / 6;
      m.y -= (p[i].y + p[i + 1].y) * cross / 6;
      m.xy -= (p[i].x * p[i + 1].y + 2 * p[i].x * p[i].y + 2 * p[i + 1].x * p[i + 1].y +
               p[i + 1].x * p[i].y) *
              cross / 24;
    }
  }
  return m;
}

// The four-point Gauss-Legendre rule over each interval between consecutive cuts, exact for
// polynomials of degree 7 there.
template <class F>
double fourPointOver(F f, const std::vector<double>& cuts) {
  const double spread = 2.0 / 7 * std::sqrt(1.2);
  const double inner = std::sqrt(3.0 / 7 - spread), outer = std::sqrt(3.0 / 7 + spread);
  const double innerWeight = 0.5 + std::sqrt(30.0) / 36, outerWeight = 0.5 - std::sqrt(30.0) / 36;
  double total = 0.0;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    const double h = 0.5 * (cuts[k + 1] - cuts[k]), m = cuts[k] + h;
    total += h * (innerWeight * (f(m - inner * h) + f(m + inner * h)) +
                  outerWeight * (f(m - outer * h) + f(m + outer * h)));
  }
  return total;
}

// The integral of the grid's surface over the region by slices, exact to rounding: along Y
// between every vertex ordinate, lattice row and ordinate where an edge crosses a lattice
// column, so that within a piece each slice's ends stay in one cell and its integral is a
// polynomial of degree at most 7 in y (four-point rule); along X over the inside stretches of
// each slice (even-odd crossings), exactly per cell. Uses only Grid::value.
double sliceIntegral(const grid::Grid& g, const geometry::Cover& region) {
  // Pieces beyond the region's extent, between lattice rows, have empty slices.
  std::vector<double> cuts = g.nodeYs();
  for (const geometry::Line& ring : region.lines()) {
    const auto p = ring.points();
    for (std::size_t e = 0; e + 1 < p.size(); ++e) {
      cuts.push_back(p[e].y);  // the ring is closed: its last vertex is its first
      for (int i = 0; i < g.nx(); ++i) {
        const double x = g.nodeX(i);
        if ((p[e].x < x && x < p[e + 1].x) || (p[e + 1].x < x && x < p[e].x))
          cuts.push_back(p[e].y + (x - p[e].x) * (p[e + 1].y - p[e].y) / (p[e + 1].x - p[e].x));
      }
    }
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  auto slice = [&](double y) {
    std::vector<double> xs;
    for (const geometry::Line& ring : region.lines()) {
      const auto p = ring.points();
      for (std::size_t i = 0; i + 1 < p.size(); ++i) {
        const double y0 = p[i].y, y1 = p[i + 1].y;
        if ((y0 <= y && y < y1) || (y1 <= y && y < y0))
          xs.push_back(p[i].x + (y - y0) * (p[i + 1].x - p[i].x) / (y1 - y0));
      }
    }
    std::sort(xs.begin(), xs.end());
    double total = 0.0;
    for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
      total += latticeIntegral([&](double x) { return g.value(x, y); }, xs[k], xs[k + 1], g.left,
                               g.stepX());
    }
    return total;
  };
  return fourPointOver(slice, cuts);
}

double integralOf(const grid::Grid& g, const geometry::Cover& region) {
  const std::optional<double> value = PolygonIntegral(g, region).compute();
  EXPECT_TRUE(value.has_value());
  return value.value_or(0.0);
}

TEST(PolygonIntegral, PlanesAndBilinearTermsGiveTheirClosedForms) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> coefficient(-5.0, 5.0);
  std::uniform_int_distribution<int> nodes(3, 40);
  for (int round = 0; round < 40; ++round) {
    const double a = coefficient(rng), b = coefficient(rng), c = coefficient(rng);
    grid::Grid plane = makeGrid(nodes(rng), nodes(rng), 0.0, 10.0, 0.0, 8.0,
                                [&](double x, double y) { return a + b * x + c * y; });
    if (round % 2 == 1) plane.setMode(grid::Interpolation::Bilinear);
    const geometry::Region region = randomRegion(rng);
    const Moments m = momentsOf(region);
    const double expected = a * m.area + b * m.x + c * m.y;
    const double scale = m.area * (std::fabs(a) + 10 * std::fabs(b) + 8 * std::fabs(c));
    EXPECT_NEAR(integralOf(plane, region), expected, 1e-9 * scale) << "round " << round;
  }
  // A natural-end spline reproduces z = a + bx + cy + dxy, whose integral over a polygon
  // follows from its vertices alone; to about 1e-11, as the solve's elimination factors are
  // rounded to 11 decimals.
  const double a = 3.0, b = 2.0, c = -1.0, d = 0.5;
  grid::Grid map = makeGrid(15, 12, 0.0, 10.0, 0.0, 8.0,
                            [&](double x, double y) { return a + b * x + c * y + d * x * y; });
  const geometry::Region region = randomRegion(rng);
  const Moments m = momentsOf(region);
  const double expected = a * m.area + b * m.x + c * m.y + d * m.xy;
  EXPECT_NEAR(integralOf(map, region), expected, 1e-10 * std::fabs(expected));
}

// Curved maps in either mode over random regions; random nodes make every cell a full bicubic,
// and the quadrilateral's edges cross the cells at odd angles, where equal pieces of an edge that
// ignore the lattice lose about 1e-4; a 0/1 map in bilinear mode (what a comparison gives) under a
// rectangle whose edges cross a hundred cells each.
TEST(PolygonIntegral, SurfacesAgainstTheSliceIntegral) {
  std::mt19937 rng(8);
  for (int round = 0; round < 6; ++round) {
    grid::Grid map = makeGrid(21 + round, 17, 0.0, 10.0, 0.0, 8.0, [](double x, double y) {
      return 50 + 20 * std::sin(0.9 * x) * std::cos(0.7 * y) + 0.5 * x * y;
    });
    if (round >= 3) map.setMode(grid::Interpolation::Bilinear);
    const geometry::Region region = randomRegion(rng);
    const double reference = sliceIntegral(map, region);
    EXPECT_NEAR(integralOf(map, region), reference, 1e-12 * reference) << "round " << round;
  }
  std::mt19937 nodesRng(17);
  std::uniform_real_distribution<double> node(-1.0, 1.0);
  grid::Grid random =
      makeGrid(11, 11, 0.0, 10.0, 0.0, 10.0, [&](double, double) { return node(nodesRng); });
  grid::Grid levels = makeGrid(101, 81, 0.0, 10.0, 0.0, 8.0, [](double x, double y) {
    return std::sin(1.3 * x) * std::cos(1.1 * y) > 0.2 ? 1.0 : 0.0;
  });
  levels.setMode(grid::Interpolation::Bilinear);
  // Each map with its ring and the tolerance relative to the ring's area.
  const std::tuple<const grid::Grid*, geometry::Line, double> cases[] = {
      {&random, geometry::Line({{1.3, 0.7}, {2.1, 8.9}, {9.2, 7.4}, {8.35, 1.45}, {1.3, 0.7}}),
       1e-12},
      {&levels, squareRing(0.55, 0.55, 9.45, 7.45, true), 1e-11}};
  for (const auto& [map, ring, tolerance] : cases) {
    const geometry::Region region = geometry::test::regionOf({ring});
    const double reference = sliceIntegral(*map, region);
    EXPECT_NEAR(integralOf(*map, region), reference, tolerance * std::fabs(region[0].signedArea()));
  }
}

TEST(PolygonIntegral, EdgesFarBeyondTheMapCostNoMoreThanItsLattice) {
  const grid::Grid map =
      makeGrid(21, 17, 0.0, 10.0, 0.0, 8.0, [](double x, double y) { return 1 + x + y; });
  const auto square = [](double h, double x1, double y1) {
    return geometry::test::coverOf({squareRing(-h, -h, x1, y1)});
  };
  EXPECT_EQ(PolygonIntegral(map, square(1e17, 1e17, 1e17)).progressTotal(),
            PolygonIntegral(map, square(1, 11, 9)).progressTotal());
}

// The map of the calculator tests: 0..10 x 0..8 on 21 x 17 nodes.
using IntegralFunction = testing::CalculatorTest;
Operand mapOf(double (*f)(double, double)) {
  return testing::gridOperand(makeGrid(21, 17, 0.0, 10.0, 0.0, 8.0, f));
}

// Polygons beside the map (sharing its right edge, at its corner, far away) integrate to 0;
// polygons reaching beyond it are cut to it: [0, 3]^2 of it, a hole across its corner ([8, 10] x
// [6, 8] without [9, 10] x [7, 8]), the whole map.
TEST_F(IntegralFunction, PolygonsBesideOrBeyondTheMapAndWrongArguments) {
  put("G1", mapOf([](double x, double y) { return 1 + x + y; }));
  const struct {
    std::vector<geometry::Line> rings;
    double value;
  } cases[] = {{{squareRing(10, 2, 12, 4)}, 0.0},
               {{squareRing(-3, -3, 0, 0)}, 0.0},
               {{squareRing(20, 20, 21, 21)}, 0.0},
               {{squareRing(-2, -2, 3, 3)}, 9 * 4.0},
               {{squareRing(8, 6, 12, 10), squareRing(9, 7, 11, 9)}, 4 * 17.0 - 1 * 18.0},
               {{squareRing(-5, -5, 15, 15)}, 80 * 10.0}};
  for (const auto& c : cases) {
    putRings("P1", c.rings);
    EXPECT_NEAR(number("Integral(G1, P1)"), c.value, 1e-9 * c.value) << c.value;
  }
  putRings("Popen", {geometry::Line({{1, 1}, {2, 1}, {2, 2}})});
  putRings("Pcross", {squareRing(1, 1, 3, 3), squareRing(2, 2, 4, 4)});
  testing::expectArgumentFailures(
      calc_, testing::kType, 2,
      {"Integral(G1, Popen)", "Integral(G1, Pcross)", "Integral(G1, G1)"});
  EXPECT_EQ(failure("Integral(P1, P1)"), "Integral: недопустимый тип аргумента 1");
}

TEST_F(IntegralFunction, MeansOverTheValuedPartOfMapsWithBlanks) {
  // Nodes from x = 6 on are blank, so the cells from x = 5.5 on have a blank corner; a square
  // across them has the valued part [1, 5.5] x [1, 7], integrated here by slices of the surface.
  for (const grid::Interpolation mode :
       {grid::Interpolation::Spline, grid::Interpolation::Bilinear}) {
    grid::Grid map = makeGrid(21, 17, 0.0, 10.0, 0.0, 8.0, [](double x, double y) {
      return x >= 6 ? grid::kBlankValue : 30 + 3 * std::sin(x) * std::cos(0.5 * y) + x * y;
    });
    map.setMode(mode);
    put("G1", testing::gridOperand(map));
    putRings("P1", {squareRing(1, 1, 9, 7)});
    const double expected =
        sliceIntegral(map, geometry::test::regionOf({squareRing(1, 1, 5.5, 7)})) / (4.5 * 6);
    EXPECT_NEAR(number("Mean(G1, P1)"), expected, 1e-10 * expected);
    // A polygon of blank cells only, or beside the map, has no values to average.
    putRings("Pblank", {squareRing(7, 1, 9, 3)});
    putRings("Pfar", {squareRing(20, 20, 21, 21)});
    testing::expectFunctionFailures(calc_, ": в полигоне нет значений грида",
                                    {"Mean(G1, Pblank)", "Mean(G1, Pfar)"});
    EXPECT_EQ(failure("Mean(P1, P1)"), "Mean: недопустимый тип аргумента 1");
    EXPECT_EQ(failure("Mean(G1, G1)"), "Mean: недопустимый тип аргумента 2");
  }
}

TEST_F(IntegralFunction, CancellingStopsTheEvaluation) {
  put("G1", mapOf([](double x, double y) { return x * y; }));
  putRings("P1", {squareRing(1, 1, 5, 5)});
  testing::Recorder observer(1);
  EXPECT_EQ(testing::evaluate(calc_, "Integral(G1, P1)", &observer).text, "Вычисление прервано");
  ASSERT_FALSE(observer.starts.empty());
  EXPECT_EQ(observer.starts.back().first, "Интегрирование по полигону");
  EXPECT_GT(observer.starts.back().second, 0);
}

}  // namespace
}  // namespace vellumar::engine
