#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <tuple>
#include <utility>

#include "TraceTestSupport.h"
#include "isolines/Trace.h"

namespace vellumar::isolines::testing {
namespace {

double peak(double x, double y) {
  return 10 * std::exp(-(x * x + y * y) / 20);
}

TEST(TraceDriver, LatticeFollowsTheStepDensificationAndMemoryAndPointsLieOnTheLevel) {
  // Steps 1 along X and 0.5 along Y: the finer one sets the lattice step.
  const grid::Grid map = gridOf(11, 11, 0, 10, 0, 5, [](double x, double) { return x; });
  EXPECT_DOUBLE_EQ(cellSizeParameter(map, 1), 500000.0);
  const grid::Grid wide = gridOf(5, 11, 0, 8, 0, 40, [](double x, double) { return x; });
  EXPECT_DOUBLE_EQ(cellSizeParameter(wide, 1), 2000000.0);

  const LatticePlan plan = planLattice(0, 10, 0, 5, cellSizeParameter(map, 1));
  EXPECT_EQ(std::tuple(plan.status, plan.nx, plan.ny, plan.h),
            std::tuple(TraceStatus::Done, 21, 11, 0.5));
  // N4 = 2 halves the step.
  const LatticePlan twice = planLattice(0, 10, 0, 5, cellSizeParameter(map, 2));
  EXPECT_EQ(std::pair(twice.nx, twice.ny), std::pair(41, 21));
  // Counts round to the nearest whole number of steps; the step then fits the width exactly.
  const LatticePlan rounded = planLattice(0, 10, 0, 10, 3.4e6);
  EXPECT_EQ(rounded.nx, 4);
  EXPECT_DOUBLE_EQ(rounded.h, 10.0 / 3);
  EXPECT_EQ(planLattice(0, 10, 0, 2, 1e6).status, TraceStatus::Done);
  EXPECT_EQ(planLattice(0, 10, 0, 1.4, 1e6).status, TraceStatus::LatticeTooSmall);
  EXPECT_EQ(planLattice(0, 10, 0, 10, 0).status, TraceStatus::LatticeTooSmall);
  EXPECT_THROW(planLattice(0, 1e9, 0, 1e9, 1), std::bad_alloc);

  // Every point of a dense trace lies on the lattice lines of the halved step.
  const grid::Grid ramp = gridOf(
      11, 6, 0, 10, 0, 5, [](double x, double y) { return x + y; }, grid::Interpolation::Bilinear);
  geometry::Cover cover;
  ASSERT_EQ(trace(cover, ramp, levels(1.3, 9.3, 2, ramp, 2), nullptr), TraceStatus::Done);
  ASSERT_EQ(cover.size(), 5u);
  for (const geometry::Line& line : cover.lines()) {
    for (const geometry::Point& p : line.points()) {
      const bool onColumn = std::fabs(p.x * 2 - std::round(p.x * 2)) < 1e-9;
      const bool onRow = std::fabs(p.y * 2 - std::round(p.y * 2)) < 1e-9;
      EXPECT_TRUE(onColumn || onRow) << p.x << " " << p.y;
      EXPECT_NEAR(p.x + p.y, line.value, 1e-9);
    }
  }

  // The lattice must fit the memory the program may use, not the machine's: a lower limit set
  // through VELLUMAR_MEMORY_LIMIT refuses a lattice that fits otherwise.
  EXPECT_EQ(planLattice(0, 1000, 0, 1000, 1e6).status, TraceStatus::Done);  // some 24 MB
  setenv("VELLUMAR_MEMORY_LIMIT", "4M", 1);
  EXPECT_THROW(planLattice(0, 1000, 0, 1000, 1e6), std::bad_alloc);
  EXPECT_EQ(planLattice(0, 100, 0, 100, 1e6).status, TraceStatus::Done);  // about 0.25 MB
  const grid::Grid hill = gridOf(5, 5, 0, 4, 0, 4, peak);
  geometry::Cover fine;
  EXPECT_THROW((void)trace(fine, hill, levels(0, 10, 1, hill, 150), nullptr), std::bad_alloc);
  unsetenv("VELLUMAR_MEMORY_LIMIT");
  EXPECT_EQ(trace(fine, hill, levels(0, 10, 1, hill, 150), nullptr), TraceStatus::Done);
  EXPECT_FALSE(fine.empty());

  // Points lie on the surface's level.
  const auto wavy = [](double x, double y) { return std::sin(x) * std::cos(0.7 * y) + 0.1 * x; };
  const grid::Grid waves = gridOf(31, 25, 0, 15, -6, 6, wavy);
  for (const double densification : {1.0, 3.0}) {
    geometry::Cover traced;
    ASSERT_EQ(trace(traced, waves, levels(-0.9, 1.9, 0.2, waves, densification), nullptr),
              TraceStatus::Done);
    ASSERT_GT(traced.size(), 15u);
    // Linear interpolation along lattice edges of step h misses the surface by O(h^2).
    const double h = cellSizeParameter(waves, densification) / 1e6;
    double worst = 0;
    for (const geometry::Line& line : traced.lines()) {
      for (const geometry::Point& p : line.points())
        worst = std::max(worst, std::fabs(waves.value(p.x, p.y) - line.value));
    }
    EXPECT_LT(worst, 0.2 * h * h);
  }
}

TEST(TraceDriver, MapsWithoutIsolinesGiveStatusesAndNoLines) {
  geometry::Cover cover;
  cover.appendLine(geometry::Line(3));
  const grid::Grid flat = gridOf(5, 5, 0, 4, 0, 4, [](double, double) { return 7.0; });
  EXPECT_EQ(trace(cover, flat, levels(0, 10, 1, flat), nullptr), TraceStatus::Flat);
  EXPECT_TRUE(cover.empty());
  // So is a map of one value among blanks, on a finer lattice too.
  grid::Grid holed = flat;
  holed.setNode(2, 3, grid::kBlankValue);
  holed.setNode(0, 0, std::nan(""));
  EXPECT_EQ(trace(cover, holed, levels(0, 10, 1, holed, 2), nullptr), TraceStatus::Flat);
  EXPECT_TRUE(cover.empty());

  EXPECT_EQ(trace(cover, grid::Grid(), levels(0, 10, 1, flat), nullptr), TraceStatus::NoValues);

  grid::Grid noExtent = gridOf(5, 5, 0, 4, 0, 4, peak);
  noExtent.top = noExtent.bottom;
  EXPECT_EQ(trace(cover, noExtent, levels(0, 10, 1, flat), nullptr), TraceStatus::EmptyRectangle);

  // A 2 x 2 map has a lattice of 2 x 2 nodes at N4 = 1, and 3 x 3 at N4 = 2.
  const grid::Grid small = gridOf(2, 2, 0, 1, 0, 1, [](double x, double y) { return x + 2 * y; });
  EXPECT_EQ(trace(cover, small, levels(0, 3, 1, small), nullptr), TraceStatus::LatticeTooSmall);
  EXPECT_TRUE(cover.empty());
  EXPECT_EQ(trace(cover, small, levels(0.5, 2.5, 1, small, 2), nullptr), TraceStatus::Done);
  EXPECT_EQ(cover.size(), 3u);
}

TEST(TraceDriver, PeakGivesOneClockwiseClosedLinePerLevelThatAClipCuts) {
  const grid::Grid map = gridOf(41, 41, -10, 10, -10, 10, peak);
  geometry::Cover cover;
  ASSERT_EQ(trace(cover, map, levels(1, 9, 2, map), nullptr), TraceStatus::Done);
  ASSERT_EQ(cover.size(), 5u);
  for (std::size_t k = 0; k < cover.size(); ++k) {
    const geometry::Line& line = cover[k];
    EXPECT_EQ(line.value, 1.0 + 2.0 * k);
    EXPECT_TRUE(samePosition(line.front(), line.back()));
    EXPECT_LT(line.signedArea(), 0.0);
    EXPECT_TRUE(higherOnTheRight(line, map, 0.05));
    // A closed line starts on its lowest-numbered edge: the first crossing of the lowest lattice
    // row it crosses, on the left of the bottom of the ring.
    double lowest = line.front().y;
    for (const geometry::Point& p : line.points()) lowest = std::min(lowest, p.y);
    EXPECT_LT(line.front().y - lowest, 0.5);
    EXPECT_LT(line.front().x, 0.0);
  }

  // A clip rectangle limits the trace.
  TraceRequest request = levels(1, 9, 2, map);
  request.clip = geometry::Rect{true, 10, 0, 3, -20};
  cover = geometry::Cover();
  ASSERT_EQ(trace(cover, map, request, nullptr), TraceStatus::Done);
  ASSERT_FALSE(cover.empty());
  for (const geometry::Line& line : cover.lines()) {
    const geometry::Rect box = line.rect();
    EXPECT_TRUE(!line.isClosed() && box.left >= -10 && box.right <= 3 && box.bottom >= 0)
        << box.left << " " << box.right << " " << box.bottom;
  }
  request.clip = geometry::Rect{true, 30, 20, 30, 20};
  EXPECT_EQ(trace(cover, map, request, nullptr), TraceStatus::EmptyRectangle);
}

// Whether (x, y) lies within the rectangle grown by margin.
bool near(double x, double y, double left, double right, double bottom, double top, double margin) {
  return x >= left - margin && x <= right + margin && y >= bottom - margin && y <= top + margin;
}

TEST(BlankIsolines, IsolinesAroundAPeakStopAtABlankHole) {
  // A peak with a blank hole beside it (nodes 3 <= x <= 6, -2 <= y <= 2): the blank cells reach
  // from x = 2 to 7 and from y = -3 to 3.
  const grid::Grid map = gridOf(21, 21, -10, 10, -10, 10, [](double x, double y) {
    return x >= 3 && x <= 6 && std::abs(y) <= 2 ? grid::kBlankValue : peak(x, y);
  });
  for (const double densification : {1.0, 2.0}) {  // the map's own lattice, and a finer one
    geometry::Cover cover;
    ASSERT_EQ(trace(cover, map, levels(1, 9, 1, map, densification), nullptr), TraceStatus::Done);
    int open = 0;
    for (const geometry::Line& line : cover.lines()) {
      for (const geometry::Point& p : line.points())
        EXPECT_FALSE(map.blankAt(p.x, p.y)) << line.value << " at " << p.x << "," << p.y;
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
    // Levels 1 ... 8, one line each, and the ring of 9.
    EXPECT_EQ(std::pair(open, cover.size()), std::pair(8, std::size_t{9})) << densification;
  }
}

// What a trace of the peak's levels 1, 3, ... 9 showed, cancelled at the given step (0: never).
struct ProgressRun {
  TraceStatus status;
  RecordingProgress progress;
  bool failed, cancelled, empty;
};

ProgressRun traceShowing(double densification, int cancelAt, bool progress = true,
                         Language language = Language::Russian) {
  const grid::Grid map = gridOf(41, 41, -10, 10, -10, 10, peak);
  TraceRequest request = levels(1, 9, 2, map, densification);
  request.progress = progress;
  request.language = language;
  ProgressRun run{TraceStatus::Done, RecordingProgress(cancelAt), false, false, false};
  ErrorSink sink(&run.progress);
  geometry::Cover cover;
  run.status = trace(cover, map, request, &sink);
  run.failed = sink.failed();
  run.cancelled = sink.code() == sink_code::kCancelled;
  run.empty = cover.empty();
  return run;
}

TEST(TraceDriver, ProgressShowsBothStagesAndCancelLeavesNoLines) {
  const ProgressRun shown = traceShowing(1, 0);
  ASSERT_EQ(shown.status, TraceStatus::Done);
  // 41 x 41 lattice nodes, then two steps per lattice edge, each reported up to its total.
  using Starts = std::vector<std::pair<std::string, std::int64_t>>;
  EXPECT_EQ(shown.progress.starts,
            (Starts{{"Подготовка данных...", 41 * 41}, {"Трассировка изолиний", 2 * 2 * 40 * 41}}));
  const std::vector<std::int64_t>& steps = shown.progress.steps;
  EXPECT_NE(std::find(steps.begin(), steps.end(), 41 * 41), steps.end());
  EXPECT_EQ(std::tuple(steps.back(), shown.progress.closes, shown.failed),
            std::tuple(2 * 2 * 40 * 41, 2, false));
  EXPECT_EQ(traceShowing(1, 0, true, Language::English).progress.starts,
            (Starts{{"Preparing data...", 41 * 41}, {"Tracing isolines", 2 * 2 * 40 * 41}}));
  // Cancelled while preparing or while tracing: status 4, no lines, the sink holds the cancel.
  for (const int cancelAt : {1, 30}) {
    const ProgressRun cancelled = traceShowing(1, cancelAt);
    EXPECT_EQ(std::tuple(cancelled.status, cancelled.empty, cancelled.cancelled),
              std::tuple(TraceStatus::Failed, true, true))
        << cancelAt;
    EXPECT_EQ(cancelled.progress.closes, static_cast<int>(cancelled.progress.starts.size()));
  }
  // A finer lattice is resampled row by row, and a cancel stops the resampling.
  const ProgressRun finer = traceShowing(2, 5);
  EXPECT_EQ(std::tuple(finer.status, finer.empty, finer.progress.steps.back()),
            std::tuple(TraceStatus::Failed, true, 5 * 81));
  EXPECT_EQ(finer.progress.starts, (Starts{{"Подготовка данных...", 81 * 81}}));
  // Without the progress flag the hook is left alone.
  const ProgressRun silent = traceShowing(1, 0, false);
  EXPECT_EQ(std::pair(silent.status, silent.progress.starts.size()),
            std::pair(TraceStatus::Done, std::size_t(0)));
}

}  // namespace
}  // namespace vellumar::isolines::testing
