#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TraceTestSupport.h"
#include "isolines/IsolineComputer.h"
#include "isolines/Trace.h"

namespace vellumar::isolines {
namespace {

using testing::coordinates;
using testing::gridOf;
using testing::latticeOf;
using Points = std::vector<std::pair<double, double>>;

TEST(BlankIsolines, ALineStopsAtEachSideOfABlankNode) {
  // A ramp along X on a 5 x 5 lattice whose middle node is blank: the vertical isolines beside it
  // are cut where the cells with that corner begin, into open pieces running upwards.
  grid::NodeVector values(25);
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 5; ++i) values[j * 5 + i] = i;
  }
  values[2 * 5 + 2] = grid::kBlankValue;
  const grid::Grid lattice = latticeOf(5, 5, std::move(values));
  TracedLines lines;
  S_IsolineComputer computer(lines, nullptr, "");
  ASSERT_TRUE(computer.traceLevels(lattice, 0.5, 3.5, 1));
  geometry::Cover cover;
  lines.appendTo(cover);
  std::vector<Points> atLevel[4];
  for (const geometry::Line& line : cover.lines()) {
    atLevel[static_cast<int>(line.value)].push_back(coordinates(line));
  }
  // Levels 0.5 and 3.5 pass no cell with the blank corner.
  EXPECT_EQ(atLevel[0], (std::vector<Points>{{{0.5, 0}, {0.5, 1}, {0.5, 2}, {0.5, 3}, {0.5, 4}}}));
  EXPECT_EQ(atLevel[3], (std::vector<Points>{{{3.5, 0}, {3.5, 1}, {3.5, 2}, {3.5, 3}, {3.5, 4}}}));
  EXPECT_EQ(atLevel[1], (std::vector<Points>{{{1.5, 0}, {1.5, 1}}, {{1.5, 3}, {1.5, 4}}}));
  EXPECT_EQ(atLevel[2], (std::vector<Points>{{{2.5, 0}, {2.5, 1}}, {{2.5, 3}, {2.5, 4}}}));
  // NaN is blank too.
  grid::NodeVector withNaN(lattice.nodes().begin(), lattice.nodes().end());
  withNaN[2 * 5 + 2] = std::nan("");
  TracedLines again;
  S_IsolineComputer second(again, nullptr, "");
  ASSERT_TRUE(second.traceLevels(latticeOf(5, 5, std::move(withNaN)), 0.5, 3.5, 1));
  EXPECT_EQ(again.size(), lines.size());
}

double peak(double x, double y) {
  return 10 * std::exp(-(x * x + y * y) / 20);
}

// Whether (x, y) lies within the rectangle grown by margin.
bool near(double x, double y, double left, double right, double bottom, double top, double margin) {
  return x >= left - margin && x <= right + margin && y >= bottom - margin && y <= top + margin;
}

TEST(BlankIsolines, IsolinesAroundAPeakStopAtABlankHole) {
  // A peak with a blank hole beside it (nodes 3 <= x <= 6, -2 <= y <= 2): the blank cells reach
  // from x = 2 to 7 and from y = -3 to 3.
  grid::Grid map = gridOf(21, 21, -10, 10, -10, 10, peak);
  for (int j = 0; j < 21; ++j) {
    for (int i = 0; i < 21; ++i) {
      if (map.nodeX(i) >= 3 && map.nodeX(i) <= 6 && std::abs(map.nodeY(j)) <= 2) {
        map.setNode(i, j, grid::kBlankValue);
      }
    }
  }
  for (const double densification : {1.0, 2.0}) {  // the map's own lattice, and a finer one
    geometry::Cover cover;
    ASSERT_EQ(trace(cover, map, testing::levels(1, 9, 1, map, densification), nullptr),
              TraceStatus::Done);
    int open = 0;
    for (const geometry::Line& line : cover.lines()) {
      for (const geometry::Point& p : line.points()) {
        EXPECT_FALSE(map.blankAt(p.x, p.y)) << line.value << " at " << p.x << "," << p.y;
      }
      // The ring of level 9 (radius 1.45) clears the hole, which begins 2 from the summit; every
      // other level meets it and is one open line whose two ends lie on the edge of the hole.
      const double radius = std::sqrt(-20 * std::log(line.value / 10));
      if (radius + 0.5 < 2.0) {
        EXPECT_TRUE(line.isClosed()) << line.value;
        continue;
      }
      ASSERT_FALSE(line.isClosed()) << line.value;
      ++open;
      for (const geometry::Point* end : {&line.front(), &line.back()}) {
        EXPECT_TRUE(near(end->x, end->y, 2, 7, -3, 3, 1e-9)) << line.value;
        EXPECT_FALSE(near(end->x, end->y, 2, 7, -3, 3, -1.0 / densification - 1e-9));
      }
    }
    EXPECT_EQ(open, 8) << densification;  // levels 1 ... 8, one line each
    EXPECT_EQ(cover.size(), 9u) << densification;
  }
}

TEST(BlankIsolines, AMapOfOneValueAmongBlanksIsFlat) {
  grid::Grid map = gridOf(6, 6, 0, 5, 0, 5, [](double, double) { return 4.0; });
  map.setNode(2, 3, grid::kBlankValue);
  map.setNode(0, 0, std::nan(""));
  geometry::Cover cover;
  EXPECT_EQ(trace(cover, map, testing::levels(0, 10, 1, map, 2), nullptr), TraceStatus::Flat);
  EXPECT_EQ(cover.size(), 0u);
}

}  // namespace
}  // namespace vellumar::isolines
