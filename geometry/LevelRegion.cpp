#include "geometry/LevelRegion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <tuple>
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

// The traced lines of one level, cleaned of what a level equal to node values makes degenerate.
// Such a level puts crossings exactly on nodes (bit for bit, whichever edge reaches them), so
// lines repeat points, and a stretch between two nodes at the level can be traced twice in
// opposite directions (the diagonal of a saddle whose low corners lie at the level, an edge
// between two such nodes with higher ground on both sides) or run along the frame. Repeated points
// go; a stretch traced both ways is a slit of no width, and goes with its partner; a stretch on
// the frame goes too, since the frame itself bounds the region there (or the region has no width
// there). What is left of a line is cut into runs at the stretches that went.
class TracedLevel {
 public:
  // Takes the lines over: the cover is left empty.
  TracedLevel(Cover& isolines, const Rect& frame)
      : frame_(frame),
        // To within rounding of the frame's magnitude (the lattice places its last nodes by a
        // step, which may miss the frame's right and top by an ulp or two).
        onFrameTolerance_(1e-12 * std::max({std::fabs(frame.left), std::fabs(frame.right),
                                            std::fabs(frame.bottom), std::fabs(frame.top),
                                            frame.right - frame.left, frame.top - frame.bottom})) {
    // Each line's memory goes as soon as it is read, so that the copy never doubles the trace.
    for (std::size_t i = 0; i < isolines.size(); ++i) {
      addLine(isolines.line(i));
      isolines.line(i) = Line();
    }
    isolines = Cover();
    dropSlits();
    for (Traced& line : lines_) {
      if (line.closed &&
          std::any_of(line.drop.begin(), line.drop.end(), [](Drop d) { return d != kKept; })) {
        startAfterDrop(line);
      }
    }
  }

  // Every run that comes back to its start (a closed line with nothing dropped among them)
  // becomes a ring, its signed area cached; every other run becomes a piece. A piece's end that
  // is a line's open end, or that met a stretch on the frame, is extended to the nearest point of
  // the outer frame, so that the piece crosses the frame there. Returns whether any piece was.
  bool sort(const Cover& outerFrame, Cover& rings, Cover& pieces) const {
    bool extended = false;
    for (const Traced& line : lines_) {
      forEachRun(line, [&](std::size_t first, std::size_t last, bool extendFront, bool extendBack) {
        std::vector<Point> points;
        points.reserve(last - first + 3);
        const auto stub = [&](const Point& p) {
          points.push_back(nearestOnCover(outerFrame, p.x, p.y).point);
        };
        if (extendFront) stub(line.points[first]);
        points.insert(points.end(), line.points.begin() + static_cast<std::ptrdiff_t>(first),
                      line.points.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        if (extendBack) stub(line.points[last]);
        Line piece(std::move(points));
        piece.value = line.value;
        // A run that comes back to its start (what a slit leaves of a closed line) is a ring: as
        // a piece it would dangle from its one junction.
        if (!extendFront && !extendBack && piece.isClosed()) {
          piece.signedArea();
          rings.appendLine(std::move(piece));
          return;
        }
        pieces.appendLine(std::move(piece));
        extended = extended || extendFront || extendBack;
      });
    }
    return extended;
  }

 private:
  enum Drop : std::uint8_t { kKept, kSlit, kOnFrame };
  struct Traced {
    std::vector<Point> points;  // no point repeats its predecessor
    std::vector<Drop> drop;     // per segment
    bool closed = false;
    double value = 0.0;
  };

  void addLine(const Line& line) {
    Traced traced;
    traced.closed = line.isClosed();
    traced.value = line.value;
    for (const Point& p : line.points()) {
      if (traced.points.empty() || !samePosition(traced.points.back(), p)) {
        traced.points.push_back(p);
      }
    }
    if (traced.points.size() < 2) return;
    traced.drop.assign(traced.points.size() - 1, kKept);
    for (std::size_t k = 0; k + 1 < traced.points.size(); ++k) {
      if (onFrame(traced.points[k], traced.points[k + 1])) traced.drop[k] = kOnFrame;
    }
    lines_.push_back(std::move(traced));
  }

  // Both ends on one side of the frame.
  bool onFrame(const Point& a, const Point& b) const {
    const auto near = [this](double u, double v) { return std::fabs(u - v) <= onFrameTolerance_; };
    return (near(a.x, frame_.left) && near(b.x, frame_.left)) ||
           (near(a.x, frame_.right) && near(b.x, frame_.right)) ||
           (near(a.y, frame_.bottom) && near(b.y, frame_.bottom)) ||
           (near(a.y, frame_.top) && near(b.y, frame_.top));
  }

  // Pairs every stretch with one traced the other way between the same two points; both go.
  void dropSlits() {
    struct Stretch {
      Point low, high;  // the ends in (x, y) order
      bool forward;     // traced from low to high
      std::size_t line, segment;
    };
    const auto before = [](const Point& p, const Point& q) {
      return p.x != q.x ? p.x < q.x : p.y < q.y;
    };
    std::vector<Stretch> stretches;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::vector<Point>& points = lines_[i].points;
      for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        const Point& a = points[k];
        const Point& b = points[k + 1];
        if (lines_[i].drop[k] != kKept || a.mark != kOnNode || b.mark != kOnNode) continue;
        const bool forward = before(a, b);
        stretches.push_back({forward ? a : b, forward ? b : a, forward, i, k});
      }
    }
    const auto sameEnds = [](const Stretch& s, const Stretch& t) {
      return samePosition(s.low, t.low) && samePosition(s.high, t.high);
    };
    std::sort(stretches.begin(), stretches.end(), [&](const Stretch& s, const Stretch& t) {
      if (!samePosition(s.low, t.low)) return before(s.low, t.low);
      if (!samePosition(s.high, t.high)) return before(s.high, t.high);
      return s.forward < t.forward;
    });
    for (std::size_t g = 0; g < stretches.size();) {
      std::size_t end = g;
      while (end < stretches.size() && sameEnds(stretches[g], stretches[end])) ++end;
      // Backward ones sort first: pair the first backward with the first forward, and so on.
      const auto firstForward = static_cast<std::size_t>(
          std::find_if(stretches.begin() + static_cast<std::ptrdiff_t>(g),
                       stretches.begin() + static_cast<std::ptrdiff_t>(end),
                       [](const Stretch& s) { return s.forward; }) -
          stretches.begin());
      const std::size_t pairs = std::min(firstForward - g, end - firstForward);
      for (std::size_t p = 0; p < pairs; ++p) {
        for (const Stretch* s : {&stretches[g + p], &stretches[firstForward + p]}) {
          lines_[s->line].drop[s->segment] = kSlit;
        }
      }
      g = end;
    }
  }

  // Walks a closed line that is cut from the end of its first dropped segment on, so that its
  // last segment is dropped and no run wraps around its closing point.
  static void startAfterDrop(Traced& line) {
    const std::size_t m = line.drop.size();
    const auto d = static_cast<std::size_t>(
        std::find_if(line.drop.begin(), line.drop.end(), [](Drop x) { return x != kKept; }) -
        line.drop.begin());
    std::vector<Point> points(m + 1);
    std::vector<Drop> drop(m);
    for (std::size_t k = 0; k < m; ++k) {
      points[k] = line.points[(d + 1 + k) % m];
      drop[k] = line.drop[(d + 1 + k) % m];
    }
    points[m] = points[0];
    line.points = std::move(points);
    line.drop = std::move(drop);
  }

  // Calls visit(first, last, extendFront, extendBack) for each run of kept segments, points
  // first ... last of the line. A run's end is extended where it is an open line's end or meets
  // a dropped stretch on the frame.
  template <typename Visit>
  static void forEachRun(const Traced& line, Visit visit) {
    const std::vector<Drop>& drop = line.drop;
    const std::size_t m = drop.size();
    for (std::size_t k = 0; k < m;) {
      if (drop[k] != kKept) {
        ++k;
        continue;
      }
      const std::size_t first = k;
      while (k < m && drop[k] == kKept) ++k;
      // A closed line's last segment is dropped (startAfterDrop): it precedes the first run.
      const bool front =
          first == 0 ? !line.closed || drop[m - 1] == kOnFrame : drop[first - 1] == kOnFrame;
      const bool back = k == m ? !line.closed : drop[k] == kOnFrame;
      visit(first, k, front, back);
    }
  }

  Rect frame_;
  double onFrameTolerance_;
  std::vector<Traced> lines_;
};

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

// Whether two pieces run through the same points, in the same direction (1), the other way (-1),
// or not (0).
int twinDirection(const Line& p, const Line& q) {
  if (p.size() != q.size()) return 0;
  const std::size_t m = p.size();
  bool same = true;
  bool reversed = true;
  for (std::size_t k = 0; k < m && (same || reversed); ++k) {
    same = same && samePosition(p[k], q[k]);
    reversed = reversed && samePosition(p[k], q[m - 1 - k]);
  }
  return same ? 1 : reversed ? -1 : 0;
}

// Pieces that the splitting left on top of each other: a sliver narrower than the splitting's
// tolerance collapses onto the frame or onto another line. Of pieces that run the same way only
// one bounds the region (a frame piece before an isoline piece); two that run opposite ways
// bound no region at all, and both go.
void dropTwins(const Cover& pieces, const Junctions& junctions, std::vector<bool>& alive) {
  const std::size_t n = pieces.size();
  const auto ends = [&](std::size_t p) {
    return std::minmax(junctions.first[p], junctions.last[p]);
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Frame pieces first among pieces with the same ends, so that they are the ones kept.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::make_tuple(ends(a), pieces[a].id, a) < std::make_tuple(ends(b), pieces[b].id, b);
  });
  for (std::size_t g = 0; g < n;) {
    std::size_t end = g + 1;
    while (end < n && ends(order[end]) == ends(order[g])) ++end;
    for (std::size_t i = g; i < end; ++i) {
      for (std::size_t k = i + 1; k < end && alive[order[i]]; ++k) {
        const std::size_t p = order[i];
        const std::size_t q = order[k];
        if (!alive[q]) continue;
        const int twin = twinDirection(pieces[p], pieces[q]);
        if (twin != 0) alive[q] = false;
        if (twin < 0) alive[p] = false;
      }
    }
    g = end;
  }
}

// Stage 2: prunes the pieces that dangle, those with an end that no other piece shares, until
// none is left; first the pieces outside the frame (the stubs to the outer frame, even when two
// isolines ending at one border point give two identical stubs that hold each other) and the
// twins of other pieces (dropTwins). Returns which pieces stay.
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
  dropTwins(pieces, junctions, alive);
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

// The turn rule at a junction with several candidates: the candidate turning sharpest to the
// right of the ring's last direction, or the straightest when none turns right; candidates that
// go straight back are never taken. Ties go to the first candidate. -1 when no choice is possible.
int chooseTurn(const std::vector<Point>& ring, const Cover& pieces,
               const std::vector<std::size_t>& candidates) {
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
    const Line& piece = pieces[candidates[c]];
    u[c] = unit(piece[0], piece[1]);
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

// Stage 3: assembles rings from the pieces that stay. Every piece runs with the region on its
// right, the frame clockwise, so a ring is the boundary of one face: it starts with the first
// unused isoline piece and goes on, at every junction, with an unused piece that leaves it, the
// one the turn rule picks among several (where lines touch at a node on the level), until it
// comes back to its start. False when a ring cannot be continued or closed.
bool assemble(const Cover& pieces, const Junctions& junctions, const std::vector<bool>& alive,
              Cover& rings) {
  const std::size_t n = pieces.size();
  std::vector<bool> used(n, false);
  std::vector<std::size_t> candidates;
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
        if (alive[q] && !used[q] && junctions.first[q] == end && pieces[q].size() >= 2) {
          candidates.push_back(q);
        }
      }
      if (candidates.empty()) return false;
      const int chosen = candidates.size() == 1 ? 0 : chooseTurn(ring, pieces, candidates);
      if (chosen < 0) return false;
      const std::size_t next = candidates[static_cast<std::size_t>(chosen)];
      const std::span<const Point> points = pieces[next].points();
      ring.insert(ring.end(), points.begin() + 1, points.end());
      end = junctions.last[next];
      used[next] = true;
    }
    if (!closed()) return false;
    for (Point& p : ring) p.mark = 0;
    Line closedRing(std::move(ring));
    closedRing.value = first.value;
    rings.appendLine(std::move(closedRing));
  }
}

// Stage 4 with open lines: the extended lines (marked 1) and, when they reach it, the frame
// (marked 0) are split at their crossings, dangling pieces are pruned and rings are assembled from
// the rest.
bool closePieces(Cover& pieces, const Rect& frame, bool withFrame, double margin, Cover& rings) {
  pieces.stampMark(1);
  for (std::size_t p = 0; p < pieces.size(); ++p) pieces.line(p).id = kIsolinePiece;
  if (withFrame) pieces.appendLine(frameRing(frame));
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
  const bool reachesFrame = TracedLevel(isolines, frame).sort(outerFrame, rings, pieces);
  // The region always lies on the right of its lines: above the level that is where the isolines
  // have their higher values; below it, the lines are walked the other way.
  if (!above) {
    reverseAll(rings);
    reverseAll(pieces);
  }
  if (!pieces.empty() && !closePieces(pieces, frame, reachesFrame, margin, rings)) return false;
  if (!reachesFrame) {
    // No line reaches the frame: when the largest ring runs counter-clockwise, the region lies
    // outside it and the frame bounds it.
    rings.sortDescending(3);
    if (!rings.empty() && rings[0].signedArea() > 0.0) rings.appendLine(frameRing(frame));
  }
  Region built;
  if (!buildRegion(std::move(rings), built)) return false;
  // The rings holding the frame were added last; the result lists the rings the other way round,
  // so that they come first.
  for (std::size_t i = built.size(); i-- > 0;) region.appendLine(std::move(built.line(i)));
  return true;
}

}  // namespace vellumar::geometry
