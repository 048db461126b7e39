#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "geometry/Bins.h"

namespace vellumar::geometry {
namespace {

TEST(Bins, BinOfIsMonotoneAndClamped) {
  const AxisBins bins = AxisBins::over(-2.0, 8.0, 5);  // bins of width 2
  // The upper end belongs to the last bin; outside, infinite and NaN values land in a border
  // bin instead of outside the table.
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {-2.0, -0.5, 0.0, 5.9, 8.0, -1e300, -inf, 1e300, inf, NAN};
  const int expected[] = {0, 0, 1, 3, 4, 0, 0, 4, 4, 0};
  for (std::size_t k = 0; k < std::size(values); ++k) {
    EXPECT_EQ(bins.binOf(values[k]), expected[k]) << values[k];
  }
  // One bin takes everything.
  EXPECT_EQ(AxisBins{}.binOf(123.0), 0);
}

TEST(Bins, CoarsenedCountHalvesUntilTheEntriesFitAndAsksLastForTheOneReturned) {
  std::vector<int> asked;
  // Entries grow with the count: 10 per bin.
  auto entries = [&](int count) {
    asked.push_back(count);
    return static_cast<std::size_t>(count) * 10;
  };
  EXPECT_EQ(coarsenedBinCount(100, 300, entries), 25);
  EXPECT_EQ(asked, (std::vector<int>{100, 50, 25}));
  asked.clear();
  // Never below one bin, even when nothing fits.
  EXPECT_EQ(coarsenedBinCount(6, 0, entries), 1);
  EXPECT_EQ(asked, (std::vector<int>{6, 3, 1}));
  asked.clear();
  EXPECT_EQ(coarsenedBinCount(0, 0, entries), 1);
  EXPECT_EQ(asked, (std::vector<int>{1}));
}

TEST(Bins, ListsHoldEachBinsItemsInFilingOrder) {
  // Items spanning bin ranges, as a long edge is listed in every bin it passes.
  const std::vector<std::pair<int, int>> spans = {{0, 2}, {1, 1}, {3, 3}, {1, 3}, {2, 2}};
  BinLists<int> lists;
  lists.build(5, [&](auto&& file) {
    for (std::size_t i = 0; i < spans.size(); ++i) {
      for (int b = spans[i].first; b <= spans[i].second; ++b) {
        file(static_cast<std::size_t>(b), static_cast<int>(i));
      }
    }
  });
  std::vector<std::vector<int>> bins;
  for (std::size_t b = 0; b < 5; ++b) bins.emplace_back(lists.in(b).begin(), lists.in(b).end());
  EXPECT_EQ(bins, (std::vector<std::vector<int>>{{0}, {0, 1, 3}, {0, 3, 4}, {2, 3}, {}}));
  // An index built over no items has empty bins.
  BinLists<int> empty;
  empty.build(3, [](auto&&) {});
  EXPECT_TRUE(empty.in(2).empty());
}

}  // namespace
}  // namespace vellumar::geometry
