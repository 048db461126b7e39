#include "geometry/PolygonRecords.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "geometry/PointInPolygon.h"

namespace vellumar::geometry {

std::vector<std::vector<std::size_t>> polygonRecords(const Cover& cover) {
  std::vector<std::size_t> outer;
  std::vector<std::size_t> holes;
  for (std::size_t i = 0; i < cover.size(); ++i) {
    const double area = cover[i].signedArea();
    if (area < 0.0) outer.push_back(i);
    if (area > 0.0) holes.push_back(i);
  }
  // Holes by the x of their first point, so each outer ring looks only at those within its
  // rectangle's x range.
  std::sort(holes.begin(), holes.end(),
            [&](std::size_t a, std::size_t b) { return cover[a].front().x < cover[b].front().x; });
  std::vector<double> firstX;
  for (std::size_t h : holes) firstX.push_back(cover[h].front().x);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> owner(cover.size(), kNone);
  auto better = [&](std::size_t candidate, std::size_t current, std::size_t hole) {
    if (current == kNone) return true;
    const bool candidateOwn = cover[candidate].id == cover[hole].id;
    const bool currentOwn = cover[current].id == cover[hole].id;
    if (candidateOwn != currentOwn) return candidateOwn;
    return -cover[candidate].signedArea() < -cover[current].signedArea();
  };
  for (std::size_t o : outer) {
    const Line& ring = cover[o];
    const Rect& rect = ring.rect();
    const auto low = std::upper_bound(firstX.begin(), firstX.end(), rect.left);
    const auto high = std::lower_bound(low, firstX.end(), rect.right);
    for (auto it = low; it != high; ++it) {
      const std::size_t h = holes[static_cast<std::size_t>(it - firstX.begin())];
      const Point& p = cover[h].front();
      if (!(rect.bottom < p.y && p.y < rect.top) || !better(o, owner[h], h)) continue;
      if (insideRing(ring, p.x, p.y)) owner[h] = o;
    }
  }
  std::vector<std::vector<std::size_t>> ownHoles(cover.size());
  for (std::size_t h = 0; h < cover.size(); ++h) {
    if (owner[h] != kNone) ownHoles[owner[h]].push_back(h);
  }
  std::map<std::int32_t, std::size_t> recordOfId;
  std::vector<std::vector<std::size_t>> records;
  for (std::size_t o : outer) {
    const auto [found, added] = recordOfId.try_emplace(cover[o].id, records.size());
    if (added) records.emplace_back();
    std::vector<std::size_t>& record = records[found->second];
    record.push_back(o);
    record.insert(record.end(), ownHoles[o].begin(), ownHoles[o].end());
  }
  return records;
}

}  // namespace vellumar::geometry
