#include "geometry/Splitting.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "geometry/Crossings.h"
#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {
namespace {

// Two points closer than this in x and in y are one point at the end of a piece.
constexpr double kEndTolerance = 1e-6;

bool nearlySame(const Point& a, const Point& b) {
  return std::fabs(a.x - b.x) < kEndTolerance && std::fabs(a.y - b.y) < kEndTolerance;
}

// Removes the points next to either end that lie within kEndTolerance of their neighbour towards
// that end. The ends themselves (the cut points) stay, and so does a piece of two points.
void cleanEnds(std::vector<Point>& points) {
  std::size_t drop = 0;
  while (points.size() - drop > 2 && nearlySame(points[1 + drop], points.front())) ++drop;
  points.erase(points.begin() + 1, points.begin() + 1 + static_cast<std::ptrdiff_t>(drop));
  while (points.size() > 2 && nearlySame(points[points.size() - 2], points.back())) {
    points.erase(points.end() - 2);
  }
}

// A piece of line with the attributes every piece of it keeps.
Line pieceOf(const Line& source, std::vector<Point> points) {
  cleanEnds(points);
  Line piece(std::move(points));
  piece.id = source.id;
  piece.value = source.value;
  piece.visited = source.visited;
  return piece;
}

// Crossings whose line and segment exist in cover; the others change nothing.
void dropOutOfRange(std::vector<CrPoint>& crossings, const Cover& cover) {
  std::erase_if(crossings, [&](const CrPoint& c) {
    if (c.line < 0 || static_cast<std::size_t>(c.line) >= cover.size()) return true;
    return c.segment < 0 || static_cast<std::size_t>(c.segment) + 1 >= cover[c.line].size();
  });
}

// Cuts line `index` at its crossings (sorted ascending, all on this line), last first. The prefix
// left before each cut is truncated in place, so a line with m crossings costs O(n + m); pieces
// are cleaned once, when they are final.
void splitLine(Cover& cover, std::size_t index, std::span<const CrPoint> crossings) {
  const Line& line = cover[index];
  std::vector<Point> prefix(line.points().begin(), line.points().end());
  std::vector<Line> pieces;
  for (auto c = crossings.rbegin(); c != crossings.rend(); ++c) {
    const auto k = static_cast<std::size_t>(c->segment);
    if (k + 1 >= prefix.size()) continue;
    const Point cut{c->x, c->y, 0};
    if (samePosition(cut, prefix.front()) || samePosition(cut, prefix.back())) continue;
    // The cut reuses a vertex it falls on exactly; otherwise it becomes a new vertex of both.
    std::size_t tailFrom = k + 1;
    std::size_t headTo = k + 1;  // one past the last prefix point kept
    bool addCut = true;
    if (samePosition(cut, prefix[k])) {
      tailFrom = k;
      addCut = false;
    } else if (samePosition(cut, prefix[k + 1])) {
      headTo = k + 2;
      tailFrom = k + 1;
      addCut = false;
    }
    std::vector<Point> tail;
    tail.reserve(prefix.size() - tailFrom + 1);
    if (addCut) tail.push_back(cut);
    tail.insert(tail.end(), prefix.begin() + static_cast<std::ptrdiff_t>(tailFrom), prefix.end());
    pieces.push_back(pieceOf(line, std::move(tail)));
    prefix.resize(headTo);
    if (addCut) prefix.push_back(cut);
  }
  if (pieces.empty()) return;
  Line head = pieceOf(line, std::move(prefix));
  cover.line(index) = std::move(head);
  for (Line& piece : pieces) cover.appendLine(std::move(piece));
}

// The point a piece is judged by: the middle of a single segment, otherwise its middle vertex.
Point testPoint(const Line& piece) {
  if (piece.size() == 2) {
    return Point{(piece[0].x + piece[1].x) / 2.0, (piece[0].y + piece[1].y) / 2.0, 0};
  }
  return piece[piece.size() / 2];
}

}  // namespace

SegmentNearest nearestOnSegment(const Point& a, const Point& b, double x, double y) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double squared = dx * dx + dy * dy;
  double t = 0.0;
  if (squared > 0.0) t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / squared, 0.0, 1.0);
  const Point p{t == 1.0 ? b.x : a.x + t * dx, t == 1.0 ? b.y : a.y + t * dy, 0};
  return {p, t, std::hypot(x - p.x, y - p.y)};
}

void splitAtCrossings(Cover& cover, std::vector<CrPoint> crossings) {
  dropOutOfRange(crossings, cover);
  sortCrossings(crossings, cover);
  // Lines are cut from the last crossing of the last line to the first, so the line indices of
  // the earlier crossings stay valid while pieces are appended.
  std::size_t end = crossings.size();
  while (end > 0) {
    std::size_t begin = end - 1;
    while (begin > 0 && crossings[begin - 1].line == crossings[end - 1].line) --begin;
    splitLine(cover, static_cast<std::size_t>(crossings[begin].line),
              std::span<const CrPoint>(crossings).subspan(begin, end - begin));
    end = begin;
  }
}

void clip(const Region& region, Cover& lines, bool keep) {
  if (region.empty() || lines.empty()) return;
  lines.recomputeRects();
  std::vector<CrPoint> onLines;
  std::vector<CrPoint> onRegion;
  findCrossings(lines, region, onLines, onRegion);
  splitAtCrossings(lines, std::move(onLines));
  const PreparedPolygon prepared(region);
  lines.removeLinesIf([&](const Line& piece) {
    if (piece.size() < 2) return false;
    const Point p = testPoint(piece);
    return prepared.insideEvenOdd(p.x, p.y, true) != keep;
  });
}

NearestPoint nearestOnCover(const Cover& cover, double x, double y) {
  NearestPoint nearest;
  for (std::size_t l = 0; l < cover.size(); ++l) {
    const std::span<const Point> p = cover[l].points();
    for (std::size_t i = 0; i < p.size(); ++i) {
      // A line of one point is its point; otherwise every segment counts.
      if (i + 1 == p.size() && p.size() > 1) break;
      const SegmentNearest s = nearestOnSegment(p[i], p[std::min(i + 1, p.size() - 1)], x, y);
      if (nearest.distance < 0.0 || s.distance < nearest.distance) {
        nearest.distance = s.distance;
        nearest.point = s.point;
        nearest.line = l;
      }
    }
  }
  return nearest;
}

}  // namespace vellumar::geometry
