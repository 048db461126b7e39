#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "TraceTestSupport.h"
#include "common/Parallel.h"
#include "grid/Blank.h"
#include "isolines/IsolineComputer.h"

namespace vellumar::isolines::testing {
namespace {

using geometry::test::coordinates;
using Points = std::vector<std::pair<double, double>>;

// The lines of the levels, whose trace must succeed.
geometry::Cover traced(const grid::Grid& lattice, double lowest, double highest, double step,
                       int lowerEnd = 1) {
  TracedLines lines;
  S_IsolineComputer computer(lines, nullptr, "");
  EXPECT_TRUE(computer.traceLevels(lattice, lowest, highest, step, lowerEnd))
      << lowest << " " << highest << " " << step;
  geometry::Cover cover;
  lines.appendTo(cover);
  return cover;
}

std::vector<double> valuesOf(const geometry::Cover& cover) {
  std::vector<double> values;
  for (const geometry::Line& line : cover.lines()) values.push_back(line.value);
  return values;
}

// The pieces of one traced level, each as its points, in the order they were traced.
std::vector<Points> piecesAt(const geometry::Cover& cover, double level) {
  std::vector<Points> pieces;
  for (const geometry::Line& line : cover.lines())
    if (line.value == level) pieces.push_back(coordinates(line));
  return pieces;
}

TEST(IsolineComputer, ClosedLoopsRunClockwiseFromTheirLowestEdgeAndSaddlesKeepHighCornersApart) {
  // A 2 x 2 plateau of 10 inside zeros.
  const grid::Grid lattice = latticeOf(4, 4, {0, 0, 0, 0, 0, 10, 10, 0, 0, 10, 10, 0, 0, 0, 0, 0});
  const geometry::Cover cover = traced(lattice, 5, 5, 1);
  ASSERT_EQ(cover.size(), 1u);
  // Starts on the lowest-numbered crossed edge (row 1, first column), runs clockwise around the
  // plateau (higher values on the right) and repeats its first point.
  const Points loop = {{0.5, 1}, {0.5, 2}, {1, 2.5}, {2, 2.5}, {2.5, 2},
                       {2.5, 1}, {2, 0.5}, {1, 0.5}, {0.5, 1}};
  EXPECT_EQ(std::pair(coordinates(cover[0]), cover[0].value), std::pair(loop, 5.0));
  for (const geometry::Point& p : cover[0].points()) EXPECT_EQ(p.mark, 0);

  // A pit gives the same ring the other way round.
  const geometry::Cover around = traced(
      latticeOf(4, 4, {10, 10, 10, 10, 10, 0, 0, 10, 10, 0, 0, 10, 10, 10, 10, 10}), 5, 5, 1);
  ASSERT_EQ(around.size(), 1u);
  EXPECT_EQ(std::pair(around[0].front().x, around[0].front().y), std::pair(0.5, 1.0));
  EXPECT_GT(around[0].signedArea(), 0.0);

  // One cell, high corners lower-left and upper-right, then lower-right and upper-left.
  EXPECT_EQ(piecesAt(traced(latticeOf(2, 2, {10, 0, 0, 10}), 5, 5, 1), 5),
            (std::vector<Points>{{{0, 0.5}, {0.5, 0}}, {{1, 0.5}, {0.5, 1}}}));
  EXPECT_EQ(piecesAt(traced(latticeOf(2, 2, {0, 10, 10, 0}), 5, 5, 1), 5),
            (std::vector<Points>{{{0.5, 0}, {1, 0.5}}, {{0.5, 1}, {0, 0.5}}}));

  // Inside a larger lattice the two high nodes of a saddle cell stay on separate closed rings.
  const geometry::Cover rings =
      traced(latticeOf(4, 4, {0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0}), 5, 5, 1);
  ASSERT_EQ(rings.size(), 2u);
  for (const geometry::Line& ring : rings.lines()) {
    EXPECT_EQ(std::pair(ring.isClosed(), ring.size()), std::pair(true, std::size_t{5}));
    EXPECT_DOUBLE_EQ(ring.signedArea(), -0.5);
  }
}

TEST(IsolineComputer, NodeOnALevelCountsAsBelowIt) {
  // The middle row lies exactly on level 5: the isoline runs through its nodes (t = 0 on the
  // edges towards the higher row) and does not cross the edges towards the lower row.
  const grid::Grid lattice = latticeOf(3, 3, {3, 3, 3, 5, 5, 5, 7, 7, 7});
  // One open line, from border to border, westwards so that the higher row lies on the right.
  EXPECT_EQ(piecesAt(traced(lattice, 5, 5, 1), 5), (std::vector<Points>{{{2, 1}, {1, 1}, {0, 1}}}));

  // Level 3 touches the bottom row and crosses upwards from it; level 7 crosses nothing.
  const geometry::Cover low = traced(lattice, 3, 7, 2);
  EXPECT_EQ(valuesOf(low), (std::vector<double>{3, 5}));
  EXPECT_EQ(piecesAt(low, 3), (std::vector<Points>{{{2, 0}, {1, 0}, {0, 0}}}));

  // With the upper-end rule a node on a level counts as above it instead.
  const geometry::Cover upper = traced(lattice, 3, 7, 2, 0);
  EXPECT_EQ(valuesOf(upper), (std::vector<double>{5, 7}));
  EXPECT_EQ(piecesAt(upper, 7), (std::vector<Points>{{{2, 2}, {1, 2}, {0, 2}}}));
}

TEST(IsolineComputer, LevelsFollowLowestHighestAndStep) {
  // Values rise by 1 per column: each level is one vertical line, in level order.
  grid::NodeVector ramp;
  for (int k = 0; k < 2 * 13; ++k) ramp.push_back(k % 13);
  const grid::Grid lattice = latticeOf(13, 2, ramp);
  EXPECT_EQ(valuesOf(traced(lattice, 0, 10, 3)), (std::vector<double>{0, 3, 6, 9}));
  EXPECT_EQ(valuesOf(traced(lattice, 0, 1, 3)), (std::vector<double>{0}));
  EXPECT_EQ(valuesOf(traced(lattice, 0, 10, 0)), (std::vector<double>{0, 10}));
  EXPECT_EQ(valuesOf(traced(lattice, 1, 2, 0.25)), (std::vector<double>{1, 1.25, 1.5, 1.75, 2}));
  // Levels outside the values give no lines but succeed.
  EXPECT_TRUE(traced(lattice, 20, 30, 1).empty());
  EXPECT_EQ(piecesAt(traced(lattice, 0, 10, 3), 6), (std::vector<Points>{{{6, 0}, {6, 1}}}));

  // A hundred levels on the edges of a cliff beside flat ground: more crossings on one edge than
  // a fixed slot per edge holds. Every level gives one line across the cliff, in level order,
  // each running north with the higher column on its right.
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

TEST(BlankIsolines, ALineStopsAtEachSideOfABlankNodeAndCrossesNoNaN) {
  // The vertical isolines beside the blank node are cut where the cells with that corner begin,
  // into open pieces running upwards; NaN is blank too.
  for (const double blank : {grid::kBlankValue, std::nan("")}) {
    SCOPED_TRACE(blank);
    // A ramp along X on a 5 x 5 lattice whose middle node is blank.
    grid::NodeVector ramp(25);
    for (int k = 0; k < 25; ++k) ramp[k] = k == 2 * 5 + 2 ? blank : k % 5;
    const geometry::Cover cover = traced(latticeOf(5, 5, std::move(ramp)), 0.5, 3.5, 1);
    for (const double x : {0.5, 1.5, 2.5, 3.5}) {
      // Levels 0.5 and 3.5 pass no cell with the blank corner.
      const bool whole = x == 0.5 || x == 3.5;
      EXPECT_EQ(piecesAt(cover, x),
                (whole ? std::vector<Points>{{{x, 0}, {x, 1}, {x, 2}, {x, 3}, {x, 4}}}
                       : std::vector<Points>{{{x, 0}, {x, 1}}, {{x, 3}, {x, 4}}}))
          << x;
    }
    EXPECT_EQ(cover.size(), 6u);
  }
  // Next to a NaN the cells are inconsistent; the walk gives up instead of going astray.
  const geometry::Cover broken =
      traced(latticeOf(3, 3, {0, 0, 0, 0, 10, std::nan(""), 0, 0, 0}), 5, 5, 1);
  ASSERT_FALSE(broken.empty());  // the piece that stays clear of the NaN is kept
  for (const geometry::Line& line : broken.lines()) {
    for (const geometry::Point& p : line.points()) EXPECT_FALSE(std::isnan(p.x + p.y));
  }
}

// A trace of many levels keeps its node ranks in 16 or 32 bits rather than 8; each of its levels
// must still give exactly the pieces a trace of that level alone gives (which ranks in 8 bits),
// blank nodes included.
TEST(IsolineRankWidth, ManyLevelsTraceEachLevelAsItsOwnTraceDoes) {
  // A smooth relief between 0 and 3 over 14 x 11 nodes, with nodes exactly on whole values (where
  // the crossing rule at a level decides), a blank node and a NaN node.
  grid::NodeVector relief;
  for (int j = 0; j < 11; ++j) {
    for (int i = 0; i < 14; ++i)
      relief.push_back(1.5 + 1.4 * std::sin(0.5 * i) * std::cos(0.4 * j));
  }
  relief[3 * 14 + 4] = 2.0;
  relief[7 * 14 + 9] = 1.0;
  relief[5 * 14 + 6] = grid::kBlankValue;
  relief[8 * 14 + 2] = std::numeric_limits<double>::quiet_NaN();
  const grid::Grid lattice = latticeOf(14, 11, std::move(relief));
  struct Case {
    const char* name;
    double highest, step;
    std::vector<int> levels;  // level numbers k, whose value is highest * k / (n - 1), exact
  };
  // 301 levels need 16-bit ranks, 70001 levels 32-bit ranks.
  const Case cases[] = {{"16-bit ranks", 3.0, 0.01, {0, 50, 100, 150, 200, 250, 300}},
                        {"32-bit ranks", 1000.0, 1000.0 / 70000, {0, 70, 140, 210}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const geometry::Cover many = traced(lattice, 0.0, c.highest, c.step);
    const double n = std::round(c.highest / c.step) + 1;
    std::size_t compared = 0;
    for (const int k : c.levels) {
      const double level = c.highest * k / (n - 1);
      const std::vector<Points> expected = piecesAt(traced(lattice, level, level, 1.0), level);
      EXPECT_EQ(piecesAt(many, level), expected) << "level " << level;
      compared += expected.size();
    }
    EXPECT_GT(compared, c.levels.size());  // the levels do cross the relief
  }
}

// Lattices of 520 x 510 nodes, large enough for their pieces to be planned in blocks of rows on
// several threads and written in parallel. Each gives, at 2 and 7 threads, the serial scan's
// output bit for bit: the same points, pieces, levels and node points, in the same order.
struct LatticeTrace {
  const char* name;
  grid::Grid lattice;
  double lowest, highest, step;
  int lowerEnd;
};

std::vector<LatticeTrace> largeTraces() {
  constexpr int nx = 520;
  constexpr int ny = 510;
  // Whole values 0 ... 6 at random: saddles everywhere, levels on node values, pieces closed and
  // open; a disc of blank nodes and a NaN node cut pieces short.
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> whole(0, 6);
  // A smooth relief between 0 and 3 with a cliff of 100 between two columns: long pieces that
  // cross every block of rows, and edges crossed by some 400 levels (16-bit ranks, and visited
  // bits behind offsets).
  grid::NodeVector noise, cliff;
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const bool blank = std::hypot(i - 300.0, j - 200.0) < 60.0;
      noise.push_back(blank ? grid::kBlankValue : whole(random));
      cliff.push_back(1.5 + 1.4 * std::sin(0.05 * i) * std::cos(0.03 * j) + (i > 260 ? 100 : 0));
    }
  }
  noise[static_cast<std::size_t>(400) * nx + 100] = std::numeric_limits<double>::quiet_NaN();
  const grid::Grid noisy = latticeOf(nx, ny, noise);
  const grid::Grid steep = latticeOf(nx, ny, cliff);
  return {{"levels on node values", noisy, 0, 6, 1, 1},
          {"levels between node values, upper-end rule", noisy, 0.5, 5.5, 1, 0},
          {"levels on node values, upper-end rule", noisy, 0, 6, 1, 0},
          {"a cliff of 400 levels", steep, 0, 101, 0.25, 1}};
}

using Traced = std::tuple<std::vector<double>, std::vector<double>, std::vector<std::int32_t>,
                          std::vector<double>, std::vector<std::size_t>>;

Traced traceOn(unsigned threads, const LatticeTrace& t) {
  parallel::setThreadLimit(threads);
  TracedLines lines;
  S_IsolineComputer computer(lines, nullptr, "");
  const bool done = computer.traceLevels(t.lattice, t.lowest, t.highest, t.step, t.lowerEnd);
  parallel::setThreadLimit(0);
  EXPECT_TRUE(done) << threads;
  return {lines.x, lines.y, lines.counts, lines.levels, lines.nodePoints};
}

// An observer that cancels once the progress passes a number of steps, and keeps the total and
// the last report.
struct CancelPast : ProgressObserver {
  explicit CancelPast(std::int64_t past) : past(past) {}
  void start(std::string_view, std::int64_t all) override { total = all; }
  bool step(std::int64_t done) override { return (last = done) <= past; }
  void close() override {}
  std::int64_t past, last = 0, total = 0;
};

TEST(IsolineThreads, ALargeLatticeTracesAsOnOneThreadAndACancelInEitherHalfLeavesNothing) {
  const std::vector<LatticeTrace> traces = largeTraces();
  for (const LatticeTrace& t : traces) {
    SCOPED_TRACE(t.name);
    const Traced serial = traceOn(1, t);
    const auto& [x, y, counts, levels, nodePoints] = serial;
    // Enough to tell an order or a piece apart: hundreds of pieces, and node points where the
    // levels meet node values.
    EXPECT_GT(counts.size(), 500u);
    EXPECT_EQ(x.size(), y.size());
    EXPECT_TRUE(t.lowest != 0 || nodePoints.size() > 200u) << nodePoints.size();
    for (const unsigned threads : {2u, 7u}) EXPECT_TRUE(traceOn(threads, t) == serial) << threads;
  }

  // The parallel trace reports its two halves, planning and writing, up to the total, and a
  // cancel in either leaves no lines.
  const LatticeTrace& t = traces.front();
  const std::int64_t edges = 2 * 520 * 510 - 520 - 510;
  for (const std::int64_t past : {std::int64_t{-1}, edges + 1, edges + edges / 2 + 1}) {
    SCOPED_TRACE(past);
    CancelPast observer(past < 0 ? 2 * edges : past);
    ErrorSink sink(&observer);
    TracedLines lines;
    S_IsolineComputer computer(lines, &sink, "");
    parallel::setThreadLimit(2);
    const bool done = computer.traceLevels(t.lattice, t.lowest, t.highest, t.step);
    parallel::setThreadLimit(0);
    EXPECT_EQ(std::tuple(observer.total, done, lines.empty(), lines.pointCount() == 0),
              std::tuple(2 * edges, past < 0, past >= 0, past >= 0));
    // Run to the end, or stopped at the first report past the cancel, short of the total.
    EXPECT_EQ(observer.last == 2 * edges, past < 0) << observer.last;
    EXPECT_LT(observer.last, past < 0 ? 2 * edges + 1 : past + edges / 2);
  }
}

}  // namespace
}  // namespace vellumar::isolines::testing
