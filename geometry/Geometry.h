#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace vellumar::geometry {

// A vertex in map units with a per-vertex tag. The mark is zero when created; readers leave it
// zero, set operations and tracers use it as a work tag. Equality of positions is always exact
// (coordinates compared with ==, so NaN is never equal to anything) and ignores the mark.
struct Point {
  double x = 0.0;
  double y = 0.0;
  std::int32_t mark = 0;
};

inline bool samePosition(const Point& a, const Point& b) {
  return a.x == b.x && a.y == b.y;
}

// A crossing point found on segment `segment` (joining points segment and segment + 1) of line
// `line` of a cover. Mark 0: strictly inside the segment it was computed on; mark 1: snapped onto
// an end of that segment.
struct CrPoint : Point {
  std::int32_t line = 0;
  std::int32_t segment = 0;
};

// Axis-aligned bounding rectangle. Not defined until something was added; an undefined rectangle
// contributes nothing to a union and contains nothing.
struct Rect {
  bool defined = false;
  double top = 0.0;     // largest y
  double bottom = 0.0;  // smallest y
  double right = 0.0;   // largest x
  double left = 0.0;    // smallest x

  void include(double x, double y);
  void unite(const Rect& other);
  // Bounds included.
  bool contains(double x, double y) const {
    return defined && left <= x && x <= right && bottom <= y && y <= top;
  }
  double width() const { return right - left; }
  double height() const { return top - bottom; }
};

// A number derived from a line's points, computed on demand and kept until they change. Atomic, so
// that threads reading one line at once may each compute it (finding the same value, the points
// being unchanged) without a data race; a per-line std::once_flag would cost more than the sums it
// guards. Copying copies what is known.
class CachedMeasure {
 public:
  explicit CachedMeasure(double unknown) : value_(unknown) {}
  CachedMeasure(const CachedMeasure& other) : value_(other.get()) {}
  CachedMeasure& operator=(const CachedMeasure& other) {
    set(other.get());
    return *this;
  }
  double get() const { return value_.load(std::memory_order_relaxed); }
  void set(double value) const { value_.store(value, std::memory_order_relaxed); }

 private:
  mutable std::atomic<double> value_;
};

// An open or closed polyline with its attributes. The bounding rectangle is kept current by every
// operation that changes points; the length and the signed area are computed on demand and cached
// until the points change (reverse keeps the area cached with its sign flipped). A line is closed
// when it has at least 2 points and its first and last points are exactly equal. Its const
// methods may run concurrently.
class Line {
 public:
  Line() = default;
  // A line of count points at (0, 0).
  explicit Line(std::size_t count);
  explicit Line(std::vector<Point> points);

  std::size_t size() const { return points_.size(); }
  bool empty() const { return points_.empty(); }
  std::span<const Point> points() const { return points_; }
  const Point& operator[](std::size_t i) const { return points_[i]; }
  const Point& front() const { return points_.front(); }
  const Point& back() const { return points_.back(); }
  const Rect& rect() const { return rect_; }

  bool isClosed() const;
  // Shoelace area, positive for counter-clockwise rings (y up); 0 for an empty or unclosed line
  // (not cached then).
  double signedArea() const;
  bool areaCached() const { return !std::isnan(area_.get()); }
  // Sum of the segment lengths (no closing segment is added).
  double length() const;
  // The stored length field: -1 while not computed.
  double cachedLength() const { return length_.get(); }

  void reserve(std::size_t count) { points_.reserve(count); }
  void clear();
  void assign(std::vector<Point> points);
  void append(const Point& p);
  // Appends other's points; when other starts at this line's last point the joint is not doubled.
  void append(const Line& other);
  void insert(std::size_t index, const Point& p);
  void removePoint(std::size_t index);
  void setPoint(std::size_t index, const Point& p);
  void setMark(std::size_t index, std::int32_t mark) { points_[index].mark = mark; }
  void stampMark(std::int32_t mark);
  void reverse();
  void recomputeRect();

  // Sort keys: 1 id, 2 length, 3 |signed area|, 4 number of points, 5 value; others give 0.
  double sortKey(int key) const;

  std::int32_t id = 0;
  double value = 0.0;
  std::int32_t visited = 0;

 private:
  void pointsChanged();

  std::vector<Point> points_;
  Rect rect_;
  CachedMeasure length_{-1.0};  // -1 while not computed
  CachedMeasure area_{kUnknownArea};
  static constexpr double kUnknownArea = std::numeric_limits<double>::quiet_NaN();
};

// An ordered set of lines with their common rectangle. appendLine keeps the rectangle current;
// after editing lines in place through line(i) call recomputeRects(). An empty cover's rectangle
// is undefined with all bounds 0.
class Cover {
 public:
  std::size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  std::span<const Line> lines() const { return lines_; }
  const Line& operator[](std::size_t i) const { return lines_[i]; }
  Line& line(std::size_t i) { return lines_[i]; }
  const Rect& rect() const { return rect_; }
  std::size_t pointCount() const;

  void clear();
  void reserve(std::size_t count) { lines_.reserve(count); }
  void appendLine(const Line& line);
  void appendLine(Line&& line);
  void removeLine(std::size_t index);
  // Removes every line for which drop(line) is true, keeping the order of the others, and
  // recomputes the cover rectangle from the lines' own.
  template <typename Drop>
  void removeLinesIf(Drop drop) {
    std::erase_if(lines_, drop);
    recomputeRects(false);
  }
  // Recomputes the cover rectangle from the lines, first refreshing each line's own rectangle when
  // withLines is set.
  void recomputeRects(bool withLines = true);
  // Stable sorts by Line::sortKey.
  void sortAscending(int key);
  void sortDescending(int key);
  void stampMark(std::int32_t mark);

  // When set, the value-file writer appends each line's orientation flag.
  bool writeOrientationFlags = false;
  // Path the cover was loaded from.
  std::string fileName;
  // When non-zero, crossings found within the cover are rounded to multiples of it.
  double snapStep = 0.0;

 private:
  void sortByKey(int key, bool descending);

  std::vector<Line> lines_;
  Rect rect_;
};

// How the closed, non-crossing rings of a cover nest: depth[i] counts the larger rings (by
// |signed area|, ties in cover order) that contain ring i, parent[i] is the smallest of them (-1
// when there is none). In a region, even depths are outer boundaries and islands, odd depths
// holes, and a hole's parent is the boundary it lies in. ringNesting (PolygonCheck.h) finds it.
struct RingNesting {
  std::vector<int> depth;
  std::vector<std::ptrdiff_t> parent;
};

// A cover that passed the polygon check: closed rings that do not cross, outer boundaries and
// islands clockwise (negative area), holes counter-clockwise. inverted is toggled by set
// operations that reverse every ring.
//
// nesting is the nesting the check found for these rings, kept so that the set operations and
// the conversion to GEOS need not find it again (regionNesting, PolygonCheck.h); it is empty for
// a region made otherwise (traced, read back from GEOS, built without the check), and found afresh
// when it no longer counts the rings. Reversing rings or renumbering their ids leaves it true;
// code that reorders the rings of a region that holds one must clear it.
struct Region : Cover {
  bool inverted = false;
  RingNesting nesting;
};

// Gives the lines that share both id and value one new id, numbering these groups first, first + 1,
// ... in the order of their first line; returns the next free number. Lines of distinct ids are
// thus numbered first, first + 1, ... in cover order. Ids only say which rings belong to one
// feature (the parts of one shapefile record, the rings of one id in a polygon file), so the
// exports number them afresh, and two operands are numbered apart before they are combined.
std::int32_t numberLineGroups(Cover& cover, std::int32_t first);

}  // namespace vellumar::geometry
