// Lattices large enough that the levels are traced in bands on several threads: the pieces, their
// points, their order and the points on nodes must be those of one scan, whatever the thread
// count; progress only rises, and a cancel stops every band.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TraceTestSupport.h"
#include "common/Parallel.h"
#include "grid/Blank.h"
#include "isolines/IsolineComputer.h"

namespace vellumar::isolines {
namespace {

using testing::latticeOf;
using testing::RecordingProgress;

constexpr unsigned kThreadCounts[] = {1, 2, 7};

// Hills and pits in whole values (many nodes lie exactly on a level), blank over a disc.
grid::Grid hillyLattice() {
  constexpr int kSide = 300;
  grid::NodeVector values(kSide * kSide);
  for (int j = 0; j < kSide; ++j) {
    for (int i = 0; i < kSide; ++i) {
      const double wave = 40 * std::sin(i / 17.0) * std::cos(j / 23.0) + 0.1 * i;
      const bool hole = std::hypot(i - 200, j - 90) < 25;
      values[static_cast<std::size_t>(j) * kSide + i] = hole ? grid::kBlankValue : std::round(wave);
    }
  }
  return latticeOf(kSide, kSide, std::move(values));
}

class IsolineBands : public ::testing::Test {
 protected:
  void TearDown() override { parallel::setThreadLimit(0); }
};

TEST_F(IsolineBands, EveryThreadCountTracesTheSameLines) {
  const grid::Grid lattice = hillyLattice();
  TracedLines one;
  parallel::setThreadLimit(1);
  ASSERT_TRUE(S_IsolineComputer(one, nullptr, "").traceLevels(lattice, -45, 75, 2));
  ASSERT_GT(one.size(), 200u);
  ASSERT_FALSE(one.nodePoints.empty());
  // Pieces come in the order of their levels nowhere but on one edge: the scan interleaves them.
  ASSERT_FALSE(std::is_sorted(one.levels.begin(), one.levels.end()));
  for (const unsigned threads : {2u, 7u}) {
    parallel::setThreadLimit(threads);
    TracedLines banded;
    ASSERT_TRUE(S_IsolineComputer(banded, nullptr, "").traceLevels(lattice, -45, 75, 2));
    EXPECT_EQ(banded.counts, one.counts) << threads;
    EXPECT_EQ(banded.levels, one.levels) << threads;
    EXPECT_EQ(banded.x, one.x) << threads;
    EXPECT_EQ(banded.y, one.y) << threads;
    EXPECT_EQ(banded.nodePoints, one.nodePoints) << threads;
  }
}

TEST_F(IsolineBands, ProgressRisesToTheEndAndACancelStopsEveryBand) {
  const grid::Grid lattice = hillyLattice();
  const std::int64_t edges = 2 * 299 * 300;
  for (const unsigned threads : kThreadCounts) {
    parallel::setThreadLimit(threads);
    std::vector<std::int64_t> steps;
    struct Steps : ProgressObserver {
      std::vector<std::int64_t>& seen;
      explicit Steps(std::vector<std::int64_t>& s) : seen(s) {}
      void start(std::string_view, std::int64_t) override {}
      bool step(std::int64_t done) override {
        seen.push_back(done);
        return true;
      }
      void close() override {}
    } record(steps);
    ErrorSink recorded(&record);
    TracedLines lines;
    ASSERT_TRUE(S_IsolineComputer(lines, &recorded, "").traceLevels(lattice, -45, 75, 2));
    ASSERT_FALSE(steps.empty());
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end())) << threads;
    EXPECT_EQ(steps.back(), 2 * edges) << threads;

    RecordingProgress cancel(400);
    ErrorSink cancelling(&cancel);
    TracedLines stopped;
    EXPECT_FALSE(S_IsolineComputer(stopped, &cancelling, "").traceLevels(lattice, -45, 75, 2));
    EXPECT_TRUE(stopped.empty()) << threads;
    EXPECT_EQ(cancel.steps, 400) << threads;  // never asked again once it said stop
  }
}

}  // namespace
}  // namespace vellumar::isolines
