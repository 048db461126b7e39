#include "geometry/Geometry.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <numeric>
#include <utility>

namespace vellumar::geometry {

void Rect::include(double x, double y) {
  if (!defined) {
    defined = true;
    left = right = x;
    bottom = top = y;
    return;
  }
  left = std::min(left, x);
  right = std::max(right, x);
  bottom = std::min(bottom, y);
  top = std::max(top, y);
}

void Rect::unite(const Rect& other) {
  if (!other.defined) return;
  if (!defined) {
    *this = other;
    return;
  }
  top = std::max(top, other.top);
  bottom = std::min(bottom, other.bottom);
  right = std::max(right, other.right);
  left = std::min(left, other.left);
}

Line::Line(std::size_t count) : points_(count) {
  recomputeRect();
}

Line::Line(std::vector<Point> points) : points_(std::move(points)) {
  recomputeRect();
}

bool Line::isClosed() const {
  return points_.size() >= 2 && samePosition(front(), back());
}

double Line::signedArea() const {
  if (areaCached()) return area_.get();
  if (!isClosed()) return 0.0;
  // The shoelace terms are taken relative to the first vertex: far from the origin the products
  // of raw coordinates are large and cancel, losing digits; the differences keep them. The ring
  // is closed, so its last edge ends at the first vertex and the sum needs no closing term.
  const double x0 = points_[0].x;
  const double y0 = points_[0].y;
  double sum = 0.0;
  for (std::size_t i = 1; i + 1 < points_.size(); ++i) {
    sum += (points_[i].x - x0) * (points_[i + 1].y - y0) -
           (points_[i + 1].x - x0) * (points_[i].y - y0);
  }
  area_.set(0.5 * sum);
  return 0.5 * sum;
}

double Line::length() const {
  if (const double known = length_.get(); known >= 0.0) return known;
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < points_.size(); ++i) {
    sum += std::hypot(points_[i + 1].x - points_[i].x, points_[i + 1].y - points_[i].y);
  }
  length_.set(sum);
  return sum;
}

void Line::pointsChanged() {
  length_.set(-1.0);
  area_.set(kUnknownArea);
}

void Line::clear() {
  points_.clear();
  rect_ = Rect{};
  pointsChanged();
}

void Line::assign(std::vector<Point> points) {
  points_ = std::move(points);
  recomputeRect();
  pointsChanged();
}

void Line::append(const Point& p) {
  points_.push_back(p);
  rect_.include(p.x, p.y);
  pointsChanged();
}

void Line::append(const Line& other) {
  if (other.empty()) return;
  std::size_t first = 0;
  if (!empty() && samePosition(back(), other.front())) first = 1;
  points_.insert(points_.end(), other.points_.begin() + static_cast<std::ptrdiff_t>(first),
                 other.points_.end());
  rect_.unite(other.rect_);
  pointsChanged();
}

void Line::insert(std::size_t index, const Point& p) {
  points_.insert(points_.begin() + static_cast<std::ptrdiff_t>(index), p);
  rect_.include(p.x, p.y);
  pointsChanged();
}

// A removed point that was not strictly inside the rectangle may have defined one of its bounds.
static bool onRectBoundary(const Rect& r, const Point& p) {
  return !(r.left < p.x && p.x < r.right && r.bottom < p.y && p.y < r.top);
}

void Line::removePoint(std::size_t index) {
  const Point removed = points_[index];
  points_.erase(points_.begin() + static_cast<std::ptrdiff_t>(index));
  if (onRectBoundary(rect_, removed)) recomputeRect();
  pointsChanged();
}

void Line::setPoint(std::size_t index, const Point& p) {
  const Point old = points_[index];
  points_[index] = p;
  if (onRectBoundary(rect_, old)) {
    recomputeRect();
  } else {
    rect_.include(p.x, p.y);
  }
  pointsChanged();
}

void Line::stampMark(std::int32_t mark) {
  for (Point& p : points_) p.mark = mark;
}

void Line::reverse() {
  std::reverse(points_.begin(), points_.end());
  if (areaCached()) area_.set(-area_.get());
}

void Line::recomputeRect() {
  rect_ = Rect{};
  for (const Point& p : points_) rect_.include(p.x, p.y);
}

double Line::sortKey(int key) const {
  switch (key) {
    case 1:
      return id;
    case 2:
      return length();
    case 3:
      return std::fabs(signedArea());
    case 4:
      return static_cast<double>(points_.size());
    case 5:
      return value;
    default:
      return 0.0;
  }
}

std::size_t Cover::pointCount() const {
  std::size_t total = 0;
  for (const Line& line : lines_) total += line.size();
  return total;
}

void Cover::clear() {
  lines_.clear();
  rect_ = Rect{};
}

void Cover::appendLine(const Line& line) {
  lines_.push_back(line);
  rect_.unite(line.rect());
}

void Cover::appendLine(Line&& line) {
  rect_.unite(line.rect());
  lines_.push_back(std::move(line));
}

void Cover::removeLine(std::size_t index) {
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  recomputeRects(false);
}

void Cover::recomputeRects(bool withLines) {
  rect_ = Rect{};
  for (Line& line : lines_) {
    if (withLines) line.recomputeRect();
    rect_.unite(line.rect());
  }
}

void Cover::sortAscending(int key) {
  sortByKey(key, false);
}

void Cover::sortDescending(int key) {
  sortByKey(key, true);
}

void Cover::sortByKey(int key, bool descending) {
  std::vector<double> keys(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) keys[i] = lines_[i].sortKey(key);
  std::vector<std::size_t> order(lines_.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return descending ? keys[a] > keys[b] : keys[a] < keys[b];
  });
  std::vector<Line> sorted;
  sorted.reserve(lines_.size());
  for (std::size_t i : order) sorted.push_back(std::move(lines_[i]));
  lines_ = std::move(sorted);
}

void Cover::stampMark(std::int32_t mark) {
  for (Line& line : lines_) line.stampMark(mark);
}

std::int32_t numberLineGroups(Cover& cover, std::int32_t first) {
  // Values are compared by their bits, so a NaN value groups with itself.
  std::map<std::pair<std::int32_t, std::uint64_t>, std::int32_t> numbers;
  std::int32_t next = first;
  for (std::size_t i = 0; i < cover.size(); ++i) {
    Line& line = cover.line(i);
    const auto [found, added] =
        numbers.try_emplace({line.id, std::bit_cast<std::uint64_t>(line.value)}, next);
    if (added) ++next;
    line.id = found->second;
  }
  return next;
}

}  // namespace vellumar::geometry
