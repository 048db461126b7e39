#include "geometry/LevelRegion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "geometry/Crossings.h"
#include "geometry/GridOutline.h"
#include "geometry/PolygonCheck.h"
#include "geometry/Splitting.h"

namespace vellumar::geometry {
namespace {

// Id of the pieces cut from isolines; pieces of the frame keep id 0. Splitting keeps a line's id
// in all its pieces, so this tells the material apart whatever marks the cut points get.
constexpr std::int32_t kIsolinePiece = 1;
// A last ring segment shorter than this gives no direction for the turn rule.
constexpr double kShortSegment = 1e-10;
// Below this |cross product| two unit directions count as parallel.
constexpr double kParallel = 1e-6;

// The clockwise ring of a rectangle, from and back to (left, bottom).
Line frameRing(const Rect& rect) {
  return latticeOutline(rect, 2, 2);
}

Rect widened(const Rect& rect, double margin) {
  Rect outer = rect;
  outer.left -= margin;
  outer.right += margin;
  outer.bottom -= margin;
  outer.top += margin;
  return outer;
}

// Stage 1: closed isolines become rings (their signed areas cached); open ones are extended at
// both ends to the nearest point of the outer frame, so that every open piece crosses the frame.
void sortLines(Cover& isolines, const Cover& outerFrame, Cover& rings, Cover& pieces) {
  rings.reserve(isolines.size());
  for (std::size_t i = 0; i < isolines.size(); ++i) {
    Line& line = isolines.line(i);
    if (line.isClosed()) {
      line.signedArea();
      rings.appendLine(std::move(line));
      continue;
    }
    if (line.empty()) continue;
    std::vector<Point> points;
    points.reserve(line.size() + 2);
    points.push_back(nearestOnCover(outerFrame, line.front().x, line.front().y).point);
    points.insert(points.end(), line.points().begin(), line.points().end());
    points.push_back(nearestOnCover(outerFrame, line.back().x, line.back().y).point);
    Line extended(std::move(points));
    extended.value = line.value;
    pieces.appendLine(std::move(extended));
  }
}

void reverseAll(Cover& cover) {
  for (std::size_t i = 0; i < cover.size(); ++i) cover.line(i).reverse();
}

// The distinct end positions of the pieces (junctions), numbered, and for each junction the pieces
// that end there in cover order (a piece with both ends at one junction is listed once).
struct Junctions {
  std::vector<std::size_t> first;  // junction of each piece's first point
  std::vector<std::size_t> last;   // junction of each piece's last point
  std::vector<std::size_t> begin;  // members of junction j: members[begin[j] .. begin[j + 1])
  std::vector<std::size_t> members;

  std::span<const std::size_t> at(std::size_t j) const {
    return std::span<const std::size_t>(members).subspan(begin[j], begin[j + 1] - begin[j]);
  }
};

Junctions findJunctions(const Cover& pieces) {
  const std::size_t n = pieces.size();
  const auto endPoint = [&](std::size_t e) -> const Point& {
    const Line& piece = pieces[e / 2];
    return e % 2 == 0 ? piece.front() : piece.back();
  };
  std::vector<std::size_t> ends(2 * n);
  std::iota(ends.begin(), ends.end(), std::size_t{0});
  std::sort(ends.begin(), ends.end(), [&](std::size_t a, std::size_t b) {
    const Point& p = endPoint(a);
    const Point& q = endPoint(b);
    if (p.x != q.x) return p.x < q.x;
    if (p.y != q.y) return p.y < q.y;
    return a < b;
  });
  Junctions junctions;
  junctions.first.resize(n);
  junctions.last.resize(n);
  junctions.members.reserve(2 * n);
  for (std::size_t k = 0; k < ends.size(); ++k) {
    const std::size_t e = ends[k];
    if (k == 0 || !samePosition(endPoint(ends[k - 1]), endPoint(e))) {
      junctions.begin.push_back(junctions.members.size());
    }
    const std::size_t j = junctions.begin.size() - 1;
    (e % 2 == 0 ? junctions.first : junctions.last)[e / 2] = j;
    if (junctions.members.size() == junctions.begin.back() || junctions.members.back() != e / 2) {
      junctions.members.push_back(e / 2);
    }
  }
  junctions.begin.push_back(junctions.members.size());
  return junctions;
}

// Stage 2: prunes the pieces that dangle, those with an end that no other piece shares, until
// none is left; first the pieces outside the frame (the stubs to the outer frame, even when two
// isolines ending at one border point give two identical stubs that hold each other). Returns
// which pieces stay.
std::vector<bool> prune(const Cover& pieces, const Junctions& junctions, const Rect& frame,
                        double margin) {
  const std::size_t n = pieces.size();
  std::vector<bool> alive(n, true);
  const Rect inner = widened(frame, margin / 4);
  for (std::size_t p = 0; p < n; ++p) {
    const Line& piece = pieces[p];
    if (piece.empty()) {
      alive[p] = false;
      continue;
    }
    const Point& a = piece.front();
    const Point& b = piece.size() > 1 ? piece[1] : a;
    if (!inner.contains((a.x + b.x) / 2, (a.y + b.y) / 2)) alive[p] = false;
  }
  std::vector<std::size_t> ends(junctions.begin.size() - 1, 0);
  for (std::size_t p = 0; p < n; ++p) {
    if (!alive[p]) continue;
    ++ends[junctions.first[p]];
    ++ends[junctions.last[p]];
  }
  const auto dangles = [&](std::size_t p) {
    const std::size_t a = junctions.first[p];
    const std::size_t b = junctions.last[p];
    const std::size_t own = a == b ? 2 : 1;
    return ends[a] == own || ends[b] == own;
  };
  std::vector<std::size_t> pending(n);
  std::iota(pending.begin(), pending.end(), std::size_t{0});
  while (!pending.empty()) {
    const std::size_t p = pending.back();
    pending.pop_back();
    if (!alive[p] || !dangles(p)) continue;
    alive[p] = false;
    for (const std::size_t j : {junctions.first[p], junctions.last[p]}) {
      --ends[j];
      for (const std::size_t q : junctions.at(j)) {
        if (alive[q]) pending.push_back(q);
      }
    }
  }
  return alive;
}

struct Direction {
  double x = 0.0;
  double y = 0.0;
};

// Unit direction from a to b; zero for a zero-length segment.
Direction unit(const Point& a, const Point& b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  const double length = std::hypot(dx, dy);
  if (!(length > 0.0)) return {};
  return {dx / length, dy / length};
}

// A piece that may continue a ring: its index and whether it is walked from its last point.
struct Candidate {
  std::size_t piece;
  bool reversed;
};

// The turn rule at a junction with several candidates: the candidate turning sharpest to the
// right of the ring's last direction, or the straightest when none turns right; candidates that
// go straight back are never taken. Ties go to the first candidate. -1 when no choice is possible.
int chooseTurn(const std::vector<Point>& ring, const Cover& pieces,
               const std::vector<Candidate>& candidates) {
  const std::size_t n = ring.size();
  if (n < 2) return -1;
  Direction d = unit(ring[n - 2], ring[n - 1]);
  if (std::hypot(ring[n - 1].x - ring[n - 2].x, ring[n - 1].y - ring[n - 2].y) < kShortSegment) {
    if (n < 3) return -1;
    d = unit(ring[n - 3], ring[n - 1]);
    if (d.x == 0.0 && d.y == 0.0) return -1;
  }
  int best = -1;
  bool anyRight = false;
  std::vector<Direction> u(candidates.size());
  std::vector<bool> usable(candidates.size(), false);
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    const Line& piece = pieces[candidates[c].piece];
    const std::size_t m = piece.size();
    u[c] = candidates[c].reversed ? unit(piece[m - 1], piece[m - 2]) : unit(piece[0], piece[1]);
    const double cross = u[c].x * d.y - u[c].y * d.x;
    const double dot = u[c].x * d.x + u[c].y * d.y;
    usable[c] = !(std::fabs(cross) < kParallel && dot < 0.0);
    if (usable[c] && d.y * u[c].x - d.x * u[c].y > 0.0) anyRight = true;
  }
  double bestDot = 0.0;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    if (!usable[c]) continue;
    const double s = d.y * u[c].x - d.x * u[c].y;
    const double dot = u[c].x * d.x + u[c].y * d.y;
    if (anyRight && s < 0.0) continue;
    if (best < 0 || (anyRight ? dot < bestDot : dot > bestDot)) {
      best = static_cast<int>(c);
      bestDot = dot;
    }
  }
  return best;
}

// Stage 3: assembles rings from the pieces that stay. Each ring starts with the first unused
// isoline piece and follows, at every junction, the unused pieces never offered before (a piece
// offered once, taken or not, is not offered again: at a junction of three pieces the one passed
// over lies beyond the isoline, outside the region), until it comes back to its start. False when
// a ring cannot be continued or closed.
bool assemble(const Cover& pieces, const Junctions& junctions, const std::vector<bool>& alive,
              Cover& rings) {
  const std::size_t n = pieces.size();
  std::vector<bool> used(n, false);
  std::vector<bool> offered(n, false);
  std::vector<Candidate> candidates;
  for (std::size_t start = 0;; ++start) {
    while (start < n && !(alive[start] && !used[start] && pieces[start].id == kIsolinePiece)) {
      ++start;
    }
    if (start == n) return true;
    const Line& first = pieces[start];
    std::vector<Point> ring(first.points().begin(), first.points().end());
    used[start] = true;
    std::size_t end = junctions.last[start];
    const auto closed = [&ring] {
      return ring.size() >= 2 && samePosition(ring.front(), ring.back());
    };
    for (std::size_t step = 0; step < n && !closed(); ++step) {
      candidates.clear();
      for (const std::size_t q : junctions.at(end)) {
        if (!alive[q] || used[q] || offered[q] || pieces[q].size() < 2) continue;
        offered[q] = true;
        candidates.push_back({q, junctions.first[q] != end});
      }
      if (candidates.empty()) return false;
      const int chosen = candidates.size() == 1 ? 0 : chooseTurn(ring, pieces, candidates);
      if (chosen < 0) return false;
      const Candidate next = candidates[static_cast<std::size_t>(chosen)];
      const std::span<const Point> points = pieces[next.piece].points();
      if (next.reversed) {
        ring.insert(ring.end(), points.rbegin() + 1, points.rend());
        end = junctions.first[next.piece];
      } else {
        ring.insert(ring.end(), points.begin() + 1, points.end());
        end = junctions.last[next.piece];
      }
      used[next.piece] = true;
    }
    if (!closed()) return false;
    for (Point& p : ring) p.mark = 0;
    Line closedRing(std::move(ring));
    closedRing.value = first.value;
    rings.appendLine(std::move(closedRing));
  }
}

// Stage 4 with open lines: the extended lines (marked 1) and the frame (marked 0) are split at
// their crossings, dangling pieces are pruned and rings are assembled from the rest.
bool closeOpenPieces(Cover& pieces, const Rect& frame, double margin, Cover& rings) {
  pieces.stampMark(1);
  for (std::size_t p = 0; p < pieces.size(); ++p) pieces.line(p).id = kIsolinePiece;
  pieces.appendLine(frameRing(frame));
  pieces.recomputeRects();
  splitAtCrossings(pieces, findSelfCrossings(pieces));
  const Junctions junctions = findJunctions(pieces);
  const std::vector<bool> alive = prune(pieces, junctions, frame, margin);
  return assemble(pieces, junctions, alive, rings);
}

}  // namespace

bool closeLevelRegion(Cover isolines, const Rect& frame, double margin, bool above,
                      Region& region) {
  region = Region();
  if (isolines.empty()) return true;
  Cover outerFrame;
  outerFrame.appendLine(frameRing(widened(frame, margin)));
  Cover rings;
  Cover pieces;
  sortLines(isolines, outerFrame, rings, pieces);
  // The region always lies on the right of its lines: above the level that is where the isolines
  // have their higher values; below it, the lines are walked the other way.
  if (!above) {
    reverseAll(rings);
    reverseAll(pieces);
  }
  if (pieces.empty()) {
    // Only closed lines: when the largest one runs counter-clockwise, the region lies outside it
    // and the frame bounds it.
    rings.sortDescending(3);
    if (!rings.empty() && rings[0].signedArea() > 0.0) rings.appendLine(frameRing(frame));
  } else if (!closeOpenPieces(pieces, frame, margin, rings)) {
    return false;
  }
  Region built;
  if (!buildRegion(std::move(rings), built)) return false;
  // The rings holding the frame were added last; the result lists the rings the other way round,
  // so that they come first.
  for (std::size_t i = built.size(); i-- > 0;) region.appendLine(std::move(built.line(i)));
  return true;
}

}  // namespace vellumar::geometry
