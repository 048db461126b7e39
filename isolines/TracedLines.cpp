#include "isolines/TracedLines.h"

namespace vellumar::isolines {

void TracedLines::clear() {
  std::vector<double>().swap(x);
  std::vector<double>().swap(y);
  std::vector<std::int32_t>().swap(counts);
  std::vector<double>().swap(levels);
}

void TracedLines::appendTo(geometry::Cover& cover) const {
  cover.reserve(cover.size() + counts.size());
  std::size_t next = 0;
  for (std::size_t k = 0; k < counts.size(); ++k) {
    const auto count = static_cast<std::size_t>(counts[k]);
    std::vector<geometry::Point> points;
    points.reserve(count);
    for (std::size_t n = next; n < next + count; ++n) points.push_back({x[n], y[n], 0});
    next += count;
    geometry::Line line(std::move(points));
    line.value = levels[k];
    cover.appendLine(std::move(line));
  }
}

}  // namespace vellumar::isolines
