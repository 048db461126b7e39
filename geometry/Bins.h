#pragma once

// The one binning behind the spatial indexes of this folder: the cells of the crossing search
// (SegmentGrid) and the rows and columns of the prepared polygon (PreparedPolygon). Not part of
// the geometry interface used outside geometry/.

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <span>
#include <vector>

namespace vellumar::geometry {

// count equal bins of the given size from low. binOf is monotone in v and clamped, so an item
// spanning [a, b] and filed in bins binOf(a) .. binOf(b) is met by a query at any v in [a, b];
// values below low (and NaN) land in the first bin, values past the last bin in the last.
struct AxisBins {
  double low = 0.0;
  double size = 1.0;
  int count = 1;

  // count bins over [low, high].
  static AxisBins over(double low, double high, int count) {
    return AxisBins{low, (high - low) / count, count};
  }

  int binOf(double v) const {
    const double t = (v - low) / size;
    if (!(t > 0.0)) return 0;
    if (t >= count) return count - 1;
    return static_cast<int>(t);
  }
};

// The bin count for an index: start, halved while filing the items at that count would take more
// than limit entries (long items are listed in every bin they pass), but never below 1.
// entries(count) tells how many a count takes; it is called last with the count returned, so it
// may leave the items placed for that count.
template <typename Entries>
int coarsenedBinCount(int start, std::size_t limit, Entries&& entries) {
  for (int count = std::max(1, start);; count = std::max(1, count / 2)) {
    if (entries(count) <= limit || count == 1) return count;
  }
}

// Items filed by bin, each bin's items in one contiguous stretch (in the order they were filed),
// so a query reads its bin from one place.
template <typename Item>
class BinLists {
 public:
  // Files the items into bins: place(file) calls file(bin, item) for every bin of every item, the
  // same calls each time it is called (twice: once to count, once to fill).
  template <typename Place>
  void build(std::size_t bins, Place&& place) {
    offsets_.assign(bins + 1, 0);
    place([&](std::size_t bin, const Item&) { ++offsets_[bin + 1]; });
    std::partial_sum(offsets_.begin(), offsets_.end(), offsets_.begin());
    items_.resize(offsets_.back());
    std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
    place([&](std::size_t bin, const Item& item) { items_[fill[bin]++] = item; });
  }

  std::span<const Item> in(std::size_t bin) const {
    return {items_.data() + offsets_[bin], offsets_[bin + 1] - offsets_[bin]};
  }

 private:
  std::vector<std::size_t> offsets_{0};
  std::vector<Item> items_;
};

}  // namespace vellumar::geometry
