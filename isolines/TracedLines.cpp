#include "isolines/TracedLines.h"

namespace vellumar::isolines {

void TracedLines::clear() {
  std::vector<double>().swap(x);
  std::vector<double>().swap(y);
  std::vector<std::int32_t>().swap(counts);
  std::vector<double>().swap(levels);
  std::vector<std::size_t>().swap(nodePoints);
}

void TracedLines::appendTo(geometry::Cover& cover, std::int32_t nodeMark) const {
  cover.reserve(cover.size() + counts.size());
  std::size_t next = 0;
  auto onNode = nodePoints.begin();
  for (std::size_t k = 0; k < counts.size(); ++k) {
    const auto count = static_cast<std::size_t>(counts[k]);
    std::vector<geometry::Point> points;
    points.reserve(count);
    for (std::size_t n = next; n < next + count; ++n) {
      const bool marked = onNode != nodePoints.end() && *onNode == n;
      if (marked) ++onNode;
      points.push_back({x[n], y[n], marked ? nodeMark : 0});
    }
    next += count;
    geometry::Line line(std::move(points));
    line.value = levels[k];
    cover.appendLine(std::move(line));
  }
}

}  // namespace vellumar::isolines
