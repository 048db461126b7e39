#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "TraceTestSupport.h"
#include "grid/Blank.h"
#include "isolines/IsolineComputer.h"

namespace vellumar::isolines {
namespace {

using testing::latticeOf;

// The pieces of one traced level, each as its points, in the order they were traced.
using Pieces = std::vector<std::vector<double>>;

Pieces piecesAt(const TracedLines& lines, double level) {
  Pieces pieces;
  std::size_t start = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const auto count = static_cast<std::size_t>(lines.counts[k]);
    if (lines.levels[k] == level) {
      std::vector<double> piece;
      for (std::size_t n = start; n < start + count; ++n) {
        piece.push_back(lines.x[n]);
        piece.push_back(lines.y[n]);
      }
      pieces.push_back(std::move(piece));
    }
    start += count;
  }
  return pieces;
}

TracedLines traceOf(const grid::Grid& lattice, double lowest, double highest, double step) {
  TracedLines lines;
  S_IsolineComputer computer(lines, nullptr, "");
  EXPECT_TRUE(computer.traceLevels(lattice, lowest, highest, step));
  return lines;
}

// A smooth relief between 0 and 3 over 14 x 11 nodes, with nodes exactly on whole values (where
// the crossing rule at a level decides), a blank node and a NaN node.
grid::Grid relief() {
  grid::NodeVector values;
  for (int j = 0; j < 11; ++j) {
    for (int i = 0; i < 14; ++i)
      values.push_back(1.5 + 1.4 * std::sin(0.5 * i) * std::cos(0.4 * j));
  }
  values[3 * 14 + 4] = 2.0;
  values[7 * 14 + 9] = 1.0;
  values[5 * 14 + 6] = grid::kBlankValue;
  values[8 * 14 + 2] = std::numeric_limits<double>::quiet_NaN();
  return latticeOf(14, 11, std::move(values));
}

// A trace of many levels keeps its node ranks in 16 or 32 bits rather than 8; each of its levels
// must still give exactly the pieces a trace of that level alone gives (which ranks in 8 bits),
// blank nodes included.
TEST(IsolineRankWidth, ManyLevelsTraceEachLevelAsItsOwnTraceDoes) {
  const grid::Grid lattice = relief();
  struct Case {
    const char* name;
    double highest;
    double step;
    std::vector<int> levels;  // level numbers k, whose value is highest * k / (n - 1), exact
  };
  // 301 levels need 16-bit ranks, 70001 levels 32-bit ranks.
  const Case cases[] = {{"16-bit ranks", 3.0, 0.01, {0, 50, 100, 150, 200, 250, 300}},
                        {"32-bit ranks", 1000.0, 1000.0 / 70000, {0, 70, 140, 210}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TracedLines many = traceOf(lattice, 0.0, c.highest, c.step);
    const double n = std::round(c.highest / c.step) + 1;
    std::size_t compared = 0;
    for (const int k : c.levels) {
      const double level = c.highest * k / (n - 1);
      const TracedLines one = traceOf(lattice, level, level, 1.0);
      const Pieces expected = piecesAt(one, level);
      EXPECT_EQ(piecesAt(many, level), expected) << "level " << level;
      compared += expected.size();
    }
    EXPECT_GT(compared, c.levels.size());  // the levels do cross the relief
  }
}

}  // namespace
}  // namespace vellumar::isolines
