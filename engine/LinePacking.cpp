#include "engine/LinePacking.h"

#include <memory>

namespace vellumar::engine {

Operand packCover(const geometry::Cover& cover, Kind kind, bool keepIds) {
  const std::size_t total = cover.pointCount();
  std::vector<double> values;
  std::vector<double> xs;
  std::vector<double> ys;
  values.reserve(total);
  xs.reserve(total);
  ys.reserve(total);
  auto parts = std::make_shared<std::vector<std::int32_t>>();
  parts->reserve(cover.size());
  for (const geometry::Line& line : cover.lines()) {
    parts->push_back(static_cast<std::int32_t>(line.size()));
    for (const geometry::Point& point : line.points()) {
      xs.push_back(point.x);
      ys.push_back(point.y);
      values.push_back(line.value);
    }
  }
  auto points = std::make_shared<const data::DATA>(std::move(values), std::move(xs), std::move(ys));
  std::shared_ptr<std::vector<std::int32_t>> ids;
  if (keepIds) {
    ids = std::make_shared<std::vector<std::int32_t>>();
    ids->reserve(cover.size());
    for (const geometry::Line& line : cover.lines()) ids->push_back(line.id);
  }
  return Operand::lines(kind, std::move(points), std::move(parts), std::move(ids));
}

bool holdsPackedLines(const Operand& operand) {
  if (!operand.isLineKind() || operand.parts().empty()) return false;
  const data::DATA& points = operand.points();
  return !points.empty() && points.hasCoordinates() &&
         forEachPackedPart(operand, [](PackedPart) {});
}

bool unpackOperand(const Operand& operand, geometry::Cover& cover) {
  cover.clear();
  // Tables that disagree are no lines at all.
  if (!holdsPackedLines(operand)) return false;
  const data::DATA& points = operand.points();
  const auto xs = points.x();
  const auto ys = points.y();
  const auto values = points.values();
  const auto& ids = operand.ids();
  const bool withIds = ids.size() == operand.parts().size();
  std::size_t index = 0;
  cover.reserve(operand.parts().size());
  forEachPackedPart(operand, [&](PackedPart part) {
    std::vector<geometry::Point> vertices;
    vertices.reserve(part.count);
    for (std::size_t k = part.first; k < part.first + part.count; ++k) {
      vertices.push_back({xs[k], ys[k], 0});
    }
    geometry::Line line(std::move(vertices));
    line.value = part.count > 0 ? values[part.first] : 0.0;
    line.id = withIds ? ids[index] : static_cast<std::int32_t>(index + 1);
    ++index;
    cover.appendLine(std::move(line));
  });
  return true;
}

}  // namespace vellumar::engine
