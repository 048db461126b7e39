#include <gtest/gtest.h>

#include "TraceTestSupport.h"
#include "isolines/IsolineComputer.h"

namespace vellumar::isolines {
namespace {

using testing::coordinates;
using testing::latticeOf;
using Points = std::vector<std::pair<double, double>>;

geometry::Cover traced(const grid::Grid& lattice, double lowest, double highest, double step,
                       bool* ok = nullptr, int lowerEnd = 1) {
  TracedLines lines;
  S_IsolineComputer computer(lines, nullptr, "");
  const bool done = computer.traceLevels(lattice, lowest, highest, step, lowerEnd);
  if (ok != nullptr) *ok = done;
  geometry::Cover cover;
  lines.appendTo(cover);
  return cover;
}

std::vector<double> valuesOf(const geometry::Cover& cover) {
  std::vector<double> values;
  for (const geometry::Line& line : cover.lines()) values.push_back(line.value);
  return values;
}

TEST(IsolineComputer, ClosedLoopRunsClockwiseFromItsLowestEdge) {
  // A 2 x 2 plateau of 10 inside zeros.
  const grid::Grid lattice = latticeOf(4, 4, {0, 0, 0, 0, 0, 10, 10, 0, 0, 10, 10, 0, 0, 0, 0, 0});
  const geometry::Cover cover = traced(lattice, 5, 5, 1);
  ASSERT_EQ(cover.size(), 1u);
  // Starts on the lowest-numbered crossed edge (row 1, first column), runs clockwise around the
  // plateau (higher values on the right) and repeats its first point.
  EXPECT_EQ(coordinates(cover[0]), (Points{{0.5, 1},
                                           {0.5, 2},
                                           {1, 2.5},
                                           {2, 2.5},
                                           {2.5, 2},
                                           {2.5, 1},
                                           {2, 0.5},
                                           {1, 0.5},
                                           {0.5, 1}}));
  EXPECT_TRUE(cover[0].isClosed());
  EXPECT_LT(cover[0].signedArea(), 0.0);
  EXPECT_EQ(cover[0].value, 5.0);
  for (const geometry::Point& p : cover[0].points()) EXPECT_EQ(p.mark, 0);

  // A pit gives the same ring the other way round.
  const grid::Grid pit =
      latticeOf(4, 4, {10, 10, 10, 10, 10, 0, 0, 10, 10, 0, 0, 10, 10, 10, 10, 10});
  const geometry::Cover around = traced(pit, 5, 5, 1);
  ASSERT_EQ(around.size(), 1u);
  EXPECT_EQ(around[0].front().x, 0.5);
  EXPECT_EQ(around[0].front().y, 1.0);
  EXPECT_GT(around[0].signedArea(), 0.0);
}

TEST(IsolineComputer, NodeOnALevelCountsAsBelowIt) {
  // The middle row lies exactly on level 5: the isoline runs through its nodes (t = 0 on the
  // edges towards the higher row) and does not cross the edges towards the lower row.
  const grid::Grid lattice = latticeOf(3, 3, {3, 3, 3, 5, 5, 5, 7, 7, 7});
  const geometry::Cover cover = traced(lattice, 5, 5, 1);
  ASSERT_EQ(cover.size(), 1u);
  // Open, from border to border, westwards so that the higher row lies on the right.
  EXPECT_EQ(coordinates(cover[0]), (Points{{2, 1}, {1, 1}, {0, 1}}));

  // Level 3 touches the bottom row and crosses upwards from it; level 7 crosses nothing.
  const geometry::Cover low = traced(lattice, 3, 7, 2);
  EXPECT_EQ(valuesOf(low), (std::vector<double>{3, 5}));
  EXPECT_EQ(coordinates(low[0]), (Points{{2, 0}, {1, 0}, {0, 0}}));

  // With the upper-end rule a node on a level counts as above it instead.
  bool ok = false;
  const geometry::Cover upper = traced(lattice, 3, 7, 2, &ok, 0);
  EXPECT_TRUE(ok);
  EXPECT_EQ(valuesOf(upper), (std::vector<double>{5, 7}));
  EXPECT_EQ(coordinates(upper[1]), (Points{{2, 2}, {1, 2}, {0, 2}}));
}

TEST(IsolineComputer, SaddleKeepsHighCornersApart) {
  // One cell, high corners lower-left and upper-right.
  const geometry::Cover rising = traced(latticeOf(2, 2, {10, 0, 0, 10}), 5, 5, 1);
  ASSERT_EQ(rising.size(), 2u);
  EXPECT_EQ(coordinates(rising[0]), (Points{{0, 0.5}, {0.5, 0}}));
  EXPECT_EQ(coordinates(rising[1]), (Points{{1, 0.5}, {0.5, 1}}));

  // High corners lower-right and upper-left.
  const geometry::Cover falling = traced(latticeOf(2, 2, {0, 10, 10, 0}), 5, 5, 1);
  ASSERT_EQ(falling.size(), 2u);
  EXPECT_EQ(coordinates(falling[0]), (Points{{0.5, 0}, {1, 0.5}}));
  EXPECT_EQ(coordinates(falling[1]), (Points{{0.5, 1}, {0, 0.5}}));

  // Inside a larger lattice the two high nodes of a saddle cell stay on separate closed rings.
  const geometry::Cover rings =
      traced(latticeOf(4, 4, {0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0}), 5, 5, 1);
  ASSERT_EQ(rings.size(), 2u);
  for (const geometry::Line& ring : rings.lines()) {
    EXPECT_TRUE(ring.isClosed());
    EXPECT_EQ(ring.size(), 5u);
    EXPECT_DOUBLE_EQ(ring.signedArea(), -0.5);
  }
}

TEST(IsolineComputer, LevelsFollowLowestHighestAndStep) {
  // Values rise by 1 per column: each level is one vertical line, in level order.
  grid::NodeVector ramp;
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i <= 12; ++i) ramp.push_back(i);
  }
  const grid::Grid lattice = latticeOf(13, 2, ramp);
  EXPECT_EQ(valuesOf(traced(lattice, 0, 10, 3)), (std::vector<double>{0, 3, 6, 9}));
  EXPECT_EQ(valuesOf(traced(lattice, 5, 5, 1)), (std::vector<double>{5}));
  EXPECT_EQ(valuesOf(traced(lattice, 0, 1, 3)), (std::vector<double>{0}));
  EXPECT_EQ(valuesOf(traced(lattice, 0, 10, 0)), (std::vector<double>{0, 10}));
  EXPECT_EQ(valuesOf(traced(lattice, 1, 2, 0.25)), (std::vector<double>{1, 1.25, 1.5, 1.75, 2}));
  // Levels outside the values give no lines but succeed.
  bool ok = false;
  EXPECT_TRUE(traced(lattice, 20, 30, 1, &ok).empty());
  EXPECT_TRUE(ok);

  const geometry::Cover three = traced(lattice, 0, 10, 3);
  EXPECT_EQ(coordinates(three[2]), (Points{{6, 0}, {6, 1}}));

  // Several levels crossing one edge come out in level order, each running north with the
  // higher column on its right.
  const geometry::Cover steep = traced(latticeOf(2, 2, {0, 10, 0, 10}), 2, 8, 2);
  EXPECT_EQ(valuesOf(steep), (std::vector<double>{2, 4, 6, 8}));
  EXPECT_EQ(coordinates(steep[1]), (Points{{0.4, 0}, {0.4, 1}}));
  // So do a hundred levels on the edges of a cliff beside flat ground: more crossings on one edge
  // than a fixed slot per edge holds. Every level gives one line across the cliff, in order.
  const geometry::Cover cliff =
      traced(latticeOf(3, 3, {0, 100, 100, 0, 100, 100, 0, 100, 100}), 0.5, 99.5, 1);
  ASSERT_EQ(cliff.size(), 100u);
  for (std::size_t k = 0; k < cliff.size(); ++k) {
    EXPECT_EQ(cliff[k].value, 0.5 + k);
    const double x = (0.5 + k) / 100;
    EXPECT_EQ(coordinates(cliff[k]), (Points{{x, 0}, {x, 1}, {x, 2}})) << k;
  }

  // A reversed range fails and leaves the output empty.
  TracedLines lines{{0, 1}, {0, 1}, {2}, {5}, {}};
  S_IsolineComputer computer(lines, nullptr, "");
  EXPECT_FALSE(computer.traceLevels(lattice, 2, 1, 1));
  EXPECT_TRUE(lines.empty() && lines.pointCount() == 0);
  // So does a step that would need more levels than can be counted.
  EXPECT_FALSE(computer.traceLevels(lattice, 0, 1e300, 1e-300));
}

TEST(IsolineComputer, UnusableNodesCrossNothing) {
  const double nan = std::nan("");
  // A NaN node takes part in no crossing and leaves the rest of the lattice traced.
  const geometry::Cover cover =
      traced(latticeOf(5, 3, {0, 0, 0, 0, 0, 0, 10, 0, 0, nan, 0, 0, 0, 0, 0}), 5, 5, 1);
  ASSERT_EQ(cover.size(), 1u);
  EXPECT_TRUE(cover[0].isClosed());
  EXPECT_EQ(cover[0].size(), 5u);
  // Next to a NaN the cells are inconsistent; the walk gives up instead of going astray.
  const geometry::Cover broken = traced(latticeOf(3, 3, {0, 0, 0, 0, 10, nan, 0, 0, 0}), 5, 5, 1);
  ASSERT_FALSE(broken.empty());  // the piece that stays clear of the NaN is kept
  for (const geometry::Line& line : broken.lines()) {
    for (const geometry::Point& p : line.points()) EXPECT_FALSE(std::isnan(p.x + p.y));
  }
}

}  // namespace
}  // namespace vellumar::isolines
