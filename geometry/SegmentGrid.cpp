#include "geometry/SegmentGrid.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vellumar::geometry {

SegmentGrid::SegmentGrid(const Rect& area, int cellsPerSide)
    : area_(area), n_(std::max(1, cellsPerSide)) {}

int SegmentGrid::crossingSearchCells(std::size_t points) {
  return std::max(1, static_cast<int>(std::sqrt(static_cast<double>(points)) / 5.0 + 0.5));
}

std::optional<SegmentRef> SegmentGrid::segmentRef(const Line& line, std::size_t l, std::size_t k) {
  const Point& a = line[k];
  const Point& b = line[k + 1];
  if (std::isnan(a.x) || std::isnan(a.y) || std::isnan(b.x) || std::isnan(b.y)) return {};
  return SegmentRef{std::min(a.x, b.x),
                    std::max(a.x, b.x),
                    std::min(a.y, b.y),
                    std::max(a.y, b.y),
                    static_cast<std::int32_t>(l),
                    static_cast<std::int32_t>(k),
                    0,
                    0,
                    0,
                    0};
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

void SegmentGrid::build() {
  std::sort(segments_.begin(), segments_.end(),
            [](const SegmentRef& a, const SegmentRef& b) { return a.minX < b.minX; });
  while (true) {
    for (SegmentRef& s : segments_) placeInCells(s);
    if (n_ == 1 || totalEntries() <= 32 * segments_.size() + (1u << 20)) break;
    n_ = std::max(1, n_ / 2);
  }
  fillCells();
}

int SegmentGrid::cellOf(double v, double low, double size) const {
  const double t = (v - low) / size;
  if (!(t > 0.0)) return 0;
  if (t >= n_) return n_ - 1;
  return static_cast<int>(t);
}

void SegmentGrid::placeInCells(SegmentRef& s) const {
  const double w = area_.width() / n_;
  const double h = area_.height() / n_;
  s.cx0 = cellOf(s.minX, area_.left, w);
  s.cx1 = cellOf(s.maxX, area_.left, w);
  s.cy0 = cellOf(s.minY, area_.bottom, h);
  s.cy1 = cellOf(s.maxY, area_.bottom, h);
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
  offsets_.assign(static_cast<std::size_t>(n_) * n_ + 1, 0);
  for (const SegmentRef& s : segments_) {
    for (int cy = s.cy0; cy <= s.cy1; ++cy) {
      for (int cx = s.cx0; cx <= s.cx1; ++cx) ++offsets_[cy * n_ + cx + 1];
    }
  }
  std::partial_sum(offsets_.begin(), offsets_.end(), offsets_.begin());
  entries_.resize(offsets_.back());
  std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    const SegmentRef& s = segments_[i];
    for (int cy = s.cy0; cy <= s.cy1; ++cy) {
      for (int cx = s.cx0; cx <= s.cx1; ++cx) {
        entries_[fill[cy * n_ + cx]++] = static_cast<std::uint32_t>(i);
      }
    }
  }
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
