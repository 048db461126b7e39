#include "geometry/SegmentGrid.h"

#include <algorithm>
#include <cmath>

namespace vellumar::geometry {

SegmentGrid::SegmentGrid(const Rect& area, int cellsPerSide)
    : area_(area), n_(std::max(1, cellsPerSide)) {}

int SegmentGrid::crossingSearchCells(std::size_t points) {
  return std::max(1, static_cast<int>(std::sqrt(static_cast<double>(points)) / 5.0 + 0.5));
}

void SegmentGrid::add(const Cover& cover) {
  segments_.reserve(segments_.size() + cover.pointCount());
  for (std::size_t l = 0; l < cover.size(); ++l) {
    const Line& line = cover[l];
    for (std::size_t k = 0; k + 1 < line.size(); ++k) {
      if (const auto s = segmentRef(line, l, k)) segments_.push_back(*s);
    }
  }
}

void SegmentGrid::addBox(const Rect& box, std::size_t id, std::size_t segment) {
  if (std::isnan(box.left) || std::isnan(box.right) || std::isnan(box.bottom) ||
      std::isnan(box.top)) {
    return;
  }
  segments_.push_back(SegmentRef{box.left, box.right, box.bottom, box.top,
                                 static_cast<std::int32_t>(id), static_cast<std::int32_t>(segment),
                                 0, 0, 0, 0});
}

void SegmentGrid::build() {
  std::sort(segments_.begin(), segments_.end(),
            [](const SegmentRef& a, const SegmentRef& b) { return a.minX < b.minX; });
  n_ = coarsenedBinCount(n_, 32 * segments_.size() + (1u << 20), [&](int n) {
    n_ = n;
    for (SegmentRef& s : segments_) placeInCells(s);
    return totalEntries();
  });
  fillCells();
}

void SegmentGrid::placeInCells(SegmentRef& s) const {
  const AxisBins columns{area_.left, area_.width() / n_, n_};
  const AxisBins rows{area_.bottom, area_.height() / n_, n_};
  s.cx0 = columns.binOf(s.minX);
  s.cx1 = columns.binOf(s.maxX);
  s.cy0 = rows.binOf(s.minY);
  s.cy1 = rows.binOf(s.maxY);
}

std::size_t SegmentGrid::totalEntries() const {
  std::size_t total = 0;
  for (const SegmentRef& s : segments_) {
    total +=
        static_cast<std::size_t>(s.cx1 - s.cx0 + 1) * static_cast<std::size_t>(s.cy1 - s.cy0 + 1);
  }
  return total;
}

void SegmentGrid::fillCells() {
  cells_.build(static_cast<std::size_t>(n_) * n_, [&](auto&& file) {
    for (std::size_t i = 0; i < segments_.size(); ++i) {
      const SegmentRef& s = segments_[i];
      for (int cy = s.cy0; cy <= s.cy1; ++cy) {
        for (int cx = s.cx0; cx <= s.cx1; ++cx) {
          file(static_cast<std::size_t>(cy * n_ + cx), static_cast<std::uint32_t>(i));
        }
      }
    }
  });
}

SegmentRuns::SegmentRuns(const Cover& cover, double reach)
    : cover_(cover),
      reach_(reach),
      // About as many cells as runs, as for a cover of 16 points per run.
      boxes_(cover.rect(), SegmentGrid::crossingSearchCells(16 * runCount(cover))) {
  boxes_.reserve(runCount(cover));
  for (std::size_t l = 0; l < cover.size(); ++l) {
    const std::span<const Point> p = cover[l].points();
    for (std::size_t k = 0; k + 1 < p.size(); k += kRunLength) {
      // The box of the run's points without NaN holds every segment of the run that counts.
      Rect box;
      for (const Point& q : p.subspan(k, std::min(p.size() - k, kRunLength + 1))) {
        if (!std::isnan(q.x) && !std::isnan(q.y)) box.include(q.x, q.y);
      }
      if (!box.defined) continue;
      box.left -= reach;
      box.right += reach;
      box.bottom -= reach;
      box.top += reach;
      boxes_.addBox(box, l, k);
    }
  }
  boxes_.build();
}

std::size_t SegmentRuns::runCount(const Cover& cover) {
  std::size_t count = 0;
  for (const Line& line : cover.lines()) {
    count += (std::max<std::size_t>(line.size(), 1) - 1 + kRunLength - 1) / kRunLength;
  }
  return count;
}

Rect widenedByTenth(Rect r) {
  const double margin = std::min(r.width(), r.height()) / 10.0;
  r.left -= margin;
  r.right += margin;
  r.bottom -= margin;
  r.top += margin;
  return r;
}

double roundingScale(const Rect& r) {
  const double magnitude = std::max({std::fabs(r.left), std::fabs(r.right), std::fabs(r.bottom),
                                     std::fabs(r.top), r.width(), r.height()});
  return std::max(magnitude * 1e-12, 1e-300);
}

}  // namespace vellumar::geometry
