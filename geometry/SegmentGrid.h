#pragma once

// The spatial index of the crossing search, shared by the searches of this folder (crossings,
// snapping, proximity), on the folder's one binning (Bins.h). Not part of the geometry interface
// used outside geometry/.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "geometry/Bins.h"
#include "geometry/Geometry.h"

namespace vellumar::geometry {

// One segment of a cover with its box and the range of grid cells the box covers.
struct SegmentRef {
  double minX, maxX, minY, maxY;
  std::int32_t line, segment;
  std::int32_t cx0, cx1, cy0, cy1;
};

// Square grid of cells over a rectangle; each cell lists the segments whose boxes meet it, sorted
// by the left end of their boxes. Cell lookups are monotone and clamped, so a segment outside the
// rectangle lands in a border cell and no pair is ever missed.
class SegmentGrid {
 public:
  // cellsPerSide is coarsened by build() when long segments would fill too many cells.
  SegmentGrid(const Rect& area, int cellsPerSide);

  // The grid size of the crossing search: max(1, floor(sqrt(points) / 5 + 0.5)) cells a side for
  // a cover of that many points.
  static int crossingSearchCells(std::size_t points);

  // Segment k of line l with its box, widened on every side by margin; nothing when a coordinate
  // is NaN.
  static std::optional<SegmentRef> segmentRef(const Line& line, std::size_t l, std::size_t k,
                                              double margin = 0.0) {
    const Point& a = line[k];
    const Point& b = line[k + 1];
    if (std::isnan(a.x) || std::isnan(a.y) || std::isnan(b.x) || std::isnan(b.y)) return {};
    return SegmentRef{std::min(a.x, b.x) - margin,
                      std::max(a.x, b.x) + margin,
                      std::min(a.y, b.y) - margin,
                      std::max(a.y, b.y) + margin,
                      static_cast<std::int32_t>(l),
                      static_cast<std::int32_t>(k),
                      0,
                      0,
                      0,
                      0};
  }

  // Adds every segment of cover (segments with a NaN coordinate intersect nothing and are left
  // out); call build() once after the last add.
  void add(const Cover& cover);
  // Adds a box as an item of its own, reported with line = id and the given segment (a box with
  // a NaN side meets nothing and is left out).
  void addBox(const Rect& box, std::size_t id, std::size_t segment = 0);
  // Room for that many more segments or boxes, so that adding them does not move those stored.
  void reserve(std::size_t more) { segments_.reserve(segments_.size() + more); }
  void build();

  // Calls visit(a, b) once for every pair of stored segments whose boxes overlap, until visit
  // returns false. Within a cell the sweep over left ends finds each overlapping pair once; a pair
  // sharing several cells is handled only in the cell of the lower-left corner of the boxes'
  // overlap.
  template <typename Visit>
  bool forEachOverlappingPair(Visit&& visit) const {
    for (int cell = 0; cell < n_ * n_; ++cell) {
      const int cx = cell % n_;
      const int cy = cell / n_;
      const std::span<const std::uint32_t> listed = cells_.in(static_cast<std::size_t>(cell));
      for (std::size_t i = 0; i < listed.size(); ++i) {
        const SegmentRef& a = segments_[listed[i]];
        for (std::size_t j = i + 1; j < listed.size(); ++j) {
          const SegmentRef& b = segments_[listed[j]];
          if (b.minX > a.maxX) break;
          if (b.minY > a.maxY || a.minY > b.maxY) continue;
          if (std::max(a.cx0, b.cx0) != cx || std::max(a.cy0, b.cy0) != cy) continue;
          if (!visit(a, b)) return false;
        }
      }
    }
    return true;
  }

  // Calls visit(s) once for every stored segment s whose box overlaps the box of query (a segment
  // of another cover, see segmentRef, or any box). The cells of the query's box are scanned; a
  // stored segment listed in several of them is visited only in the cell of the lower-left corner
  // of the overlap.
  template <typename Visit>
  void forEachOverlapping(SegmentRef query, Visit&& visit) const {
    placeInCells(query);
    for (int cy = query.cy0; cy <= query.cy1; ++cy) {
      for (int cx = query.cx0; cx <= query.cx1; ++cx) {
        for (const std::uint32_t i : cells_.in(static_cast<std::size_t>(cy * n_ + cx))) {
          const SegmentRef& s = segments_[i];
          if (s.minX > query.maxX) break;
          if (s.maxX < query.minX || s.minY > query.maxY || query.minY > s.maxY) continue;
          if (std::max(s.cx0, query.cx0) != cx || std::max(s.cy0, query.cy0) != cy) continue;
          visit(s);
        }
      }
    }
  }

  // Calls visit(s) once for every stored segment whose box meets the square of half side radius
  // around (x, y).
  template <typename Visit>
  void forEachNear(double x, double y, double radius, Visit&& visit) const {
    forEachOverlapping(SegmentRef{x - radius, x + radius, y - radius, y + radius, 0, 0, 0, 0, 0, 0},
                       visit);
  }

 private:
  void placeInCells(SegmentRef& s) const;
  std::size_t totalEntries() const;
  void fillCells();

  Rect area_;
  int n_ = 1;
  std::vector<SegmentRef> segments_;
  BinLists<std::uint32_t> cells_;  // indices into segments_, by cell (row by row from the bottom)
};

// The segments of one cover in runs of up to kRunLength consecutive segments of a line, the runs
// indexed by their boxes. Two segments whose boxes overlap lie in one run or in two runs whose
// boxes overlap, so pairing the runs through their grid and comparing the segments of a pair
// directly finds every such pair. A small ring is one run: many small rings cost one box each in
// the grid instead of one entry per segment. The cover must outlive the index.
class SegmentRuns {
 public:
  static constexpr std::size_t kRunLength = 16;

  // With a reach, every box is widened by it on each side, so segments that come within reach
  // of each other pair as well.
  explicit SegmentRuns(const Cover& cover, double reach = 0.0);

  // Calls visit(a, b) once for every pair of segments of the cover whose boxes overlap (touching
  // boxes overlap), a before b in cover order, until visit returns false; returns false then.
  // Segments with a NaN coordinate meet nothing and are left out, and so are two consecutive
  // segments of one line, which meet at their common vertex and nowhere else that counts.
  template <typename Visit>
  bool forEachOverlappingPair(Visit&& visit) const {
    RunSegments first{};
    RunSegments second{};
    for (std::size_t l = 0; l < cover_.size(); ++l) {
      for (std::size_t k = 0; k + 1 < cover_[l].size(); k += kRunLength) {
        segmentsOf(l, k, nullptr, first);
        for (std::size_t i = 0; i < first.size; ++i) {
          for (std::size_t j = i + 1; j < first.size; ++j) {
            const SegmentRef& a = first.at[i];
            const SegmentRef& b = first.at[j];
            if (b.segment == a.segment + 1) continue;
            if (boxesMeet(a, b) && !visit(a, b)) return false;
          }
        }
      }
    }
    return boxes_.forEachOverlappingPair([&](const SegmentRef& p, const SegmentRef& q) {
      // A run is filed as its line and first segment; the segments of the lower one come first.
      const bool inOrder = p.line < q.line || (p.line == q.line && p.segment < q.segment);
      const SegmentRef& low = inOrder ? p : q;
      const SegmentRef& high = inOrder ? q : p;
      segmentsOf(static_cast<std::size_t>(low.line), static_cast<std::size_t>(low.segment), &high,
                 first);
      if (first.size == 0) return true;
      segmentsOf(static_cast<std::size_t>(high.line), static_cast<std::size_t>(high.segment), &low,
                 second);
      for (std::size_t i = 0; i < first.size; ++i) {
        const SegmentRef& a = first.at[i];
        for (std::size_t j = 0; j < second.size; ++j) {
          const SegmentRef& b = second.at[j];
          if (a.line == b.line && b.segment == a.segment + 1) continue;
          if (boxesMeet(a, b) && !visit(a, b)) return false;
        }
      }
      return true;
    });
  }

 private:
  // The segments of one run that count, in order.
  struct RunSegments {
    std::array<SegmentRef, kRunLength> at;
    std::size_t size;
  };

  static bool boxesMeet(const SegmentRef& a, const SegmentRef& b) {
    return a.minX <= b.maxX && b.minX <= a.maxX && a.minY <= b.maxY && b.minY <= a.maxY;
  }
  static std::size_t runCount(const Cover& cover);
  // The segments of the run of line l that starts at segment first whose boxes meet box (all of
  // them without one).
  void segmentsOf(std::size_t l, std::size_t first, const SegmentRef* box,
                  RunSegments& segments) const {
    segments.size = 0;
    const Line& line = cover_[l];
    const std::size_t end = std::min(line.size() - 1, first + kRunLength);
    for (std::size_t k = first; k < end; ++k) {
      const auto s = SegmentGrid::segmentRef(line, l, k, reach_);
      if (s && (box == nullptr || boxesMeet(*s, *box))) segments.at[segments.size++] = *s;
    }
  }

  const Cover& cover_;
  double reach_;
  SegmentGrid boxes_;  // run boxes, filed as the run's line and first segment
};

// r widened on every side by a tenth of its smaller side.
Rect widenedByTenth(Rect r);

// A distance far above the rounding of coordinates within r (1e-12 of their magnitude) and far
// below anything drawn there: points closer than this are one point.
double roundingScale(const Rect& r);

}  // namespace vellumar::geometry
