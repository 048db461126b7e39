#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../geometry/TestShapes.h"
#include "TraceTestSupport.h"
#include "common/CFormat.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "geometry/PointInPolygon.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SetOperations.h"

namespace vellumar::engine {
namespace {

using isolines::testing::gridOf;
using isolines::testing::RecordingProgress;
using testing::evaluate;
using testing::Outcome;

// A number as the evaluator reads it back exactly.
std::string exact(double value) {
  return cformat("%.17g", value);
}

using geometry::test::enclosedArea;

// Samples a surface at the centres of k x k cells over its rectangle: the area where it lies
// above (or below) the level, and the area where that disagrees with the region's inside. Blank
// parts of the surface lie on neither side.
std::pair<double, double> sample(const grid::Grid& map, const geometry::Cover& region, double level,
                                 bool above, int k = 600) {
  geometry::Region rings;
  static_cast<geometry::Cover&>(rings) = region;
  const geometry::PreparedPolygon inside(rings);
  const double w = (map.right - map.left) / k, h = (map.top - map.bottom) / k;
  long count = 0, wrong = 0;
  for (int j = 0; j < k; ++j) {
    for (int i = 0; i < k; ++i) {
      const double x = map.left + (i + 0.5) * w, y = map.bottom + (j + 0.5) * h;
      const double z = map.value(x, y);
      const bool in = !grid::isBlank(z) && (above ? z > level : z < level);
      if (in) ++count;
      if (in != inside.insideEvenOdd(x, y, false)) ++wrong;
    }
  }
  return {count * w * h, wrong * w * h};
}

// The area of the part of each cell of the map's own lattice above the level, counted cell by
// cell with the crossings the tracing places (linear along the edges, a node above only when
// higher than the level) and its saddle rule (a saddle cell's high corners stay apart): an
// exact count that knows nothing of how lines are closed into rings.
double cellAreaAbove(const grid::Grid& map, double level) {
  using geometry::Point;
  const auto shoelace = [](const std::vector<Point>& ring) {
    double twice = 0.0;
    for (std::size_t k = 0, n = ring.size(); k < n; ++k)
      twice += ring[k].x * ring[(k + 1) % n].y - ring[(k + 1) % n].x * ring[k].y;
    return std::fabs(twice) / 2.0;
  };
  double area = 0.0;
  for (int j = 0; j + 1 < map.ny(); ++j) {
    for (int i = 0; i + 1 < map.nx(); ++i) {
      double z[4];
      bool up[4];
      Point p[4];
      for (int c = 0; c < 4; ++c) {  // the corners counter-clockwise from the lower left
        const int ci = i + (c == 1 || c == 2), cj = j + (c >= 2);
        z[c] = map.node(ci, cj);
        up[c] = z[c] > level;
        p[c] = Point{map.nodeX(ci), map.nodeY(cj), 0};
      }
      const auto crossing = [&](int s) {
        const int t = (s + 1) % 4;
        const double f = (level - z[s]) / (z[t] - z[s]);
        return Point{p[s].x + f * (p[t].x - p[s].x), p[s].y + f * (p[t].y - p[s].y), 0};
      };
      const bool saddle = up[0] == up[2] && up[1] == up[3] && up[0] != up[1];
      std::vector<Point> part;
      for (int s = 0; s < 4; ++s) {
        if (saddle && up[s]) area += shoelace({crossing((s + 3) % 4), p[s], crossing(s)});
        if (saddle) continue;
        if (up[s]) part.push_back(p[s]);
        if (up[s] != up[(s + 1) % 4]) part.push_back(crossing(s));
      }
      if (!part.empty()) area += shoelace(part);
    }
  }
  return area;
}

// A calculator holding a peak (G1), a pit (G2), a flat map (G4), a noisy relief (G5) and two ridges
// whose isolines at level 5 share a stretch (G6).
class TracePolygon : public testing::CalculatorTest {
 protected:
  void SetUp() override {
    put("G1", gridOf(31, 31, -3, 3, -3, 3, [](double x, double y) { return 10 - x * x - y * y; }));
    put("G2", gridOf(31, 31, -3, 3, -3, 3, [](double x, double y) { return x * x + y * y; }));
    put("G4", gridOf(5, 5, 0, 4, 0, 4, [](double, double) { return 3.0; }));
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    put("G5", gridOf(40, 30, 0, 39, 0, 29, [&](double x, double y) {
          return std::sin(0.3 * x) * std::cos(0.25 * y) + 0.5 * std::sin(0.11 * (x + 2 * y)) +
                 noise(random);
        }));
    // G5 with a blank margin along its left side, a blank block inside and a NaN node (G7).
    grid::Grid holed = map("G5");
    for (int j = 0; j < holed.ny(); ++j) {
      for (int i = 0; i < holed.nx(); ++i)
        if (i < 4 || (i >= 20 && i <= 22 && j >= 12 && j <= 14)) holed.setNode(i, j, 1.70141e38);
    }
    holed.setNode(30, 5, std::nan(""));
    put("G7", std::move(holed));
    // Two ridges of 9 (rows 1 and 3) on either side of a row of 5 (row 2), on a plain of 0.
    const auto ridges = [](double x, double y) {
      if (x == 0.0 || x == 4.0 || y == 0.0 || y == 4.0) return 0.0;
      return y == 2.0 ? 5.0 : 9.0;
    };
    put("G6", gridOf(5, 5, 0, 4, 0, 4, ridges, grid::Interpolation::Bilinear));
  }

  // Puts the map with its stored z-range set to the extremes of its valid nodes, as a grid file
  // holds it.
  void put(const std::string& name, grid::Grid grid) {
    const grid::Range range = grid::rangeOf(grid.nodes());
    grid.zmin = range.min;
    grid.zmax = range.max;
    CalculatorTest::put(name, testing::gridOperand(std::move(grid)));
  }
  const grid::Grid& map(const std::string& name) {
    return *calc_.registry().find(name)->value.gridValue();
  }

  // The polygon of a statement that must succeed.
  geometry::Cover polygon(const std::string& display) {
    const Operand operand = result(display);
    EXPECT_EQ(operand.kind(), Kind::Polygon) << display;
    geometry::Cover cover;
    unpackOperand(operand, cover);
    return cover;
  }

  // The polygon of Trace(args), checked for what every such result must satisfy: it passes the
  // polygon check as it is (closed rings that do not cross, oriented by nesting) and no vertex
  // leaves the map's rectangle.
  geometry::Cover validRegion(const std::string& args, const grid::Grid& map) {
    const std::string display = "Trace(" + args + ")";
    const geometry::Cover region = polygon(display);
    EXPECT_FALSE(region.empty()) << display;
    geometry::Region checked;
    EXPECT_TRUE(geometry::buildRegion(region, checked) && checked.size() == region.size())
        << display;
    for (std::size_t i = 0; i < region.size() && checked.size() == region.size(); ++i) {
      EXPECT_EQ(checked[i].signedArea(), region[i].signedArea()) << display << " ring " << i;
      for (const geometry::Point& p : region[i].points())
        EXPECT_TRUE(p.x >= map.left && p.x <= map.right && p.y >= map.bottom && p.y <= map.top)
            << display << " (" << p.x << ", " << p.y << ")";
    }
    return region;
  }

  // The regions above and below the level, each valid and agreeing with the sampled surface the
  // tracing sees: within a lattice cell the traced line is the chord of the lattice surface's
  // isoline, so they differ from the sampled regions only in a thin strip along the boundary.
  std::pair<geometry::Cover, geometry::Cover> bothSides(const std::string& name, double level,
                                                        double densification) {
    const grid::Grid& m = map(name);
    const std::string args =
        name + ", " + std::to_string(level) + ", " + std::to_string(densification) + ", ";
    std::pair<geometry::Cover, geometry::Cover> sides{validRegion(args + "1", m),
                                                      validRegion(args + "0", m)};
    // The surface the tracing sees: the map's surface at the nodes of a square lattice of step
    // min(hx, hy) / densification, interpolated bilinearly between them.
    const double step = std::min(m.stepX(), m.stepY()) / densification;
    const auto count = [step](double width) {
      return static_cast<int>(std::trunc(width / step + 0.5)) + 1;
    };
    const grid::Grid surface = gridOf(
        count(m.right - m.left), count(m.top - m.bottom), m.left, m.right, m.bottom, m.top,
        [&m](double x, double y) { return m.value(x, y); }, grid::Interpolation::Bilinear);
    for (const bool above : {true, false}) {
      const geometry::Cover& region = above ? sides.first : sides.second;
      const auto [area, mismatch] = sample(surface, region, level, above);
      double perimeter = 0.0;
      for (const geometry::Line& ring : region.lines()) perimeter += ring.length();
      const double strip = 0.05 * perimeter * step + 0.005;
      EXPECT_NEAR(enclosedArea(region), area, strip) << args << above;
      EXPECT_LT(mismatch, strip) << args << above;
    }
    return sides;
  }
};

// Trace with four arguments gives the region above or below a level, with five the isolines of a
// series of levels; both are checked on the same maps.
using TraceFunction = TracePolygon;

TEST_F(TraceFunction, ArgumentsOfBothFormsAreCheckedInOrder) {
  // The isolines of a series of levels, and the region above or below a level.
  const auto expectFailures = [this](const char* check, int argument,
                                     std::initializer_list<std::string> displays) {
    testing::expectArgumentFailures(calc_, check, argument, displays);
  };
  expectFailures(testing::kType, 1, {"Trace(5, 0, 10, 1, 1)", "Trace(5, 5, 1, 1)"});
  expectFailures(testing::kType, 2, {"Trace(G1, G1, 10, 1, 1)", "Trace(G1, G1, 1, 1)"});
  expectFailures(testing::kType, 3, {"Trace(G1, 5, G1, 1)"});
  expectFailures(testing::kType, 4, {"Trace(G1, 5, 1, G1)"});
  expectFailures(testing::kType, 5, {"Trace(G1, 0, 10, 1, G1)"});
  expectFailures(testing::kValue, 2,
                 {"Trace(G1, 11, 10, 0, 0)", "Trace(G1, 10.5, 1, 1)", "Trace(G1, -8.5, 1, 1)",
                  "Trace(G1, 11, 0, 1)"});
  expectFailures(testing::kValue, 3, {"Trace(G1, 5, 0, 1)", "Trace(G1, 5, -1, 1)"});
  expectFailures(testing::kValue, 4, {"Trace(G1, 0, 10, 0, 0)", "Trace(G1, 0, 10, -1, 1)"});
  expectFailures(testing::kValue, 5, {"Trace(G1, 0, 10, 1, 0)", "Trace(G1, 0, 10, 1, -2)"});
  expectMessages({{"Trace(G1, 0, 1e300, 1e-300, 1)", "Trace: ошибка исполнения функции!"},
                  {"Trace(G1, 0, 10, 1, 1e9)", "недостаточно памяти для вычисления!"}});
  // The ends of the stored range are levels of the map (the top one in the empty-polygon case);
  // N3 may be any number.
  EXPECT_TRUE(evaluate(calc_, "Trace(G1, " + exact(map("G1").zmin) + ", 1, -3)").ok);
  calc_.setLanguage(Language::English);
  EXPECT_EQ(failure("Trace(G1, 0, 10, 1, 0)"), "Trace: invalid value of argument 5");
}

TEST_F(TraceFunction, ACancelFailsTheEvaluation) {
  // Cancelled while tracing lines or a region (what the trace shows is the driver's own test; that
  // a failed statement assigns nothing, the evaluator's).
  // The statement and the report it is cancelled at.
  for (const auto& [display, cancelAt] :
       {std::pair{"Trace(G1, 2, 9, 3, 1)", 30}, {"Trace(G1, 5, 1, 1)", 3}}) {
    RecordingProgress cancelling(cancelAt);
    EXPECT_EQ(evaluate(calc_, display, &cancelling).text, "Вычисление прервано") << display;
  }
}

TEST_F(TraceFunction, ResultsCarryTheirLevelsAndFlatMapsGiveEmptyResults) {
  // The result text names the kind.
  ASSERT_EQ(evaluate(calc_, "Trace(G1, 2, 9, 3, 2)").text, "Результат - линии - готов !");
  geometry::Cover cover;
  ASSERT_TRUE(unpackOperand(calc_.result(), cover));
  ASSERT_EQ(cover.size(), 3u);
  // Closed and clockwise around the peak, as the driver's own test checks them.
  for (std::size_t k = 0; k < cover.size(); ++k) EXPECT_EQ(cover[k].value, 2.0 + 3.0 * k);
  // A flat map gives an empty lines result, not a failure.
  ASSERT_TRUE(evaluate(calc_, "Trace(G4, 0, 10, 1, 1)").ok);
  EXPECT_EQ(std::pair(calc_.result().kind(), calc_.result().parts().empty()),
            std::pair(Kind::Lines, true));
  // A flat map, or a level no node exceeds, gives an empty polygon.
  for (const std::string& display :
       {std::string("Trace(G4, 3, 1, 1)"), "Trace(G1, " + exact(map("G1").zmax) + ", 1, 1)"}) {
    polygon(display);  // which must succeed with a polygon
    EXPECT_TRUE(calc_.result().parts().empty()) << display;
  }
}

// N3 chooses the side of the level: around a peak, the ring of the circle x^2 + y^2 = 5 above it,
// carrying the level, and the frame with that ring as a hole below it.
TEST_F(TracePolygon, TheFourthArgumentChoosesTheSideOfTheLevel) {
  EXPECT_EQ(evaluate(calc_, "Trace(G1, 5, 1, 1)").text, "Результат - полигон - готов !");
  const geometry::Cover peak = polygon("Trace(G1, 5, 1, 1)");
  ASSERT_EQ(peak.size(), 1u);
  EXPECT_EQ(peak[0].value, 5.0);
  EXPECT_NEAR(enclosedArea(peak), 5 * M_PI, 0.05);
  const double below = enclosedArea(polygon("Trace(G1, 5, 1, 0)"));
  EXPECT_NEAR(below, 36 - 5 * M_PI, 0.05);
  // N3 is truncated: 0.7 asks for the region below, -1 and 2.5 for the region above.
  EXPECT_EQ(enclosedArea(polygon("Trace(G1, 5, 1, 0.7)")), below);
  EXPECT_EQ(enclosedArea(polygon("Trace(G1, 5, 1, -1)")), enclosedArea(peak));
  EXPECT_EQ(enclosedArea(polygon("Trace(G1, 5, 1, 2.5)")), enclosedArea(peak));
}

// Levels equal to node values put crossings on nodes: lines that meet at nodes, run along the
// border, or trace a stretch between two nodes on the level from both sides. Every integer level
// of an integer relief (and of a terraced one, with wide flats on the levels) and levels a
// rounding away from them must give valid regions whose areas are the exact cell count.
TEST_F(TracePolygon, LevelsOnAndNearNodeValuesGiveTheExactCellAreasAndJoinRidges) {
  for (const int terrace : {1, 4}) {
    const auto relief = [terrace](double x, double y) {
      const double i = x / 10.0, j = y / 10.0;
      const double v = std::round(
          200 + 30 * std::sin(0.21 * i + 0.13 * j + 1) + 20 * std::sin(0.07 * i - 0.31 * j) +
          12 * std::sin(0.37 * i + 0.29 * j + 2) + 6 * std::sin(0.53 * i - 0.41 * j + 0.5));
      return std::floor(v / terrace) * terrace;
    };
    put("G8", gridOf(48, 40, 0, 470, 0, 390, relief, grid::Interpolation::Bilinear));
    const grid::Grid& m = map("G8");
    const double frame = (m.right - m.left) * (m.top - m.bottom);
    for (double base = std::ceil(m.zmin) + 1; base < m.zmax; base += terrace) {
      for (const double level : {base, base + 2e-7, base - 1e-12}) {
        const std::string args = "G8, " + exact(level) + ", 1, ";
        const geometry::Cover above = validRegion(args + "1", m);
        const geometry::Cover below = validRegion(args + "0", m);
        const double expected = cellAreaAbove(m, level);
        EXPECT_NEAR(enclosedArea(above), expected, frame * 1e-8) << args;
        EXPECT_NEAR(enclosedArea(below), frame - expected, frame * 1e-8) << args;
      }
    }
  }
  // At level 5 both ridges' isolines run along the row of 5 between them, the one way and the
  // other: the region above is the two ridges joined along that row, not two rings sharing it.
  const geometry::Cover joined = validRegion("G6, 5, 1, 1", map("G6"));
  EXPECT_EQ(joined.size(), 1u);
  EXPECT_NEAR(enclosedArea(joined), cellAreaAbove(map("G6"), 5.0), 1e-12);
  // Slightly higher, they are apart.
  EXPECT_EQ(validRegion("G6, 5.5, 1, 1", map("G6")).size(), 2u);
}

TEST_F(TracePolygon, AreasAgreeWithCountedSamplesAndBothSidesFillTheFrameOrTheValidArea) {
  const std::tuple<std::string, double, double> cases[] = {
      {"G1", 3.5, 1}, {"G2", 9.2, 1}, {"G5", 0.1, 1}, {"G5", -0.4, 2.5}};  // map, level, N4
  for (const auto& [name, level, densification] : cases) {
    const grid::Grid& m = map(name);
    const auto [above, below] = bothSides(name, level, densification);
    const std::string args = name + " " + std::to_string(level);
    // Above and below share their boundary: together they are the frame, and they do not overlap.
    const double frame = (m.right - m.left) * (m.top - m.bottom);
    EXPECT_NEAR(enclosedArea(above) + enclosedArea(below), frame, frame * 1e-12) << args;
    geometry::Region up, down;
    ASSERT_TRUE(geometry::buildRegion(above, up) && geometry::buildRegion(below, down)) << args;
    const auto combined = [&](geometry::SetOperation operation) {
      geometry::Region out;
      EXPECT_EQ(geometry::combineRegions(operation, up, down, 0.0, out), geometry::SetStatus::Done)
          << args;
      return out;
    };
    const geometry::Region overlap = combined(geometry::SetOperation::Intersection);
    EXPECT_TRUE(overlap.empty()) << args << overlap.size() << " rings of area "
                                 << enclosedArea(overlap);
    const geometry::Region both = combined(geometry::SetOperation::Union);
    EXPECT_NEAR(enclosedArea(both), frame, frame * 1e-9) << args;
  }

  // The valid area's edge bounds the region as the map's border does: the region above and the
  // region below lie within the cells without a blank corner, agree with the sampled surface there
  // and together fill exactly that area.
  const grid::Grid& m = map("G7");
  double validArea = 0.0;
  for (int j = 0; j + 1 < m.ny(); ++j) {
    for (int i = 0; i + 1 < m.nx(); ++i)
      validArea += m.cellIsBlank(i, j) ? 0.0 : m.stepX() * m.stepY();
  }
  ASSERT_NEAR(validArea, 39 * 29 - 4 * 29 - 4 * 4 - 2 * 2, 1e-9);  // the margin, the block, the NaN
  // On the map's own lattice and on a finer one, whose nodes on the valid area's edge must be read
  // from the valid side.
  for (const double densification : {1.0, 2.0}) {
    for (const double level : {0.1, -0.4, 0.6}) {
      const auto [above, below] = bothSides("G7", level, densification);
      EXPECT_NEAR(enclosedArea(above) + enclosedArea(below), validArea, validArea * 1e-9)
          << level << " " << densification;
    }
  }
  // A level outside the valid nodes' range is refused, as on a map without blanks.
  EXPECT_EQ(failure("Trace(G7, 1e30, 1, 1)"), "Trace: недопустимое значение аргумента 2");
}

}  // namespace
}  // namespace vellumar::engine
