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

bool unpackOperand(const Operand& operand, geometry::Cover& cover) {
  cover.clear();
  if (!operand.isLineKind()) return false;
  const data::DATA& points = operand.points();
  const auto& parts = operand.parts();
  if (points.empty() || parts.empty() || !points.hasCoordinates()) return false;
  const auto xs = points.x();
  const auto ys = points.y();
  const auto values = points.values();
  const auto& ids = operand.ids();
  const bool withIds = ids.size() == parts.size();
  std::size_t next = 0;
  cover.reserve(parts.size());
  for (std::size_t part = 0; part < parts.size(); ++part) {
    const std::int32_t count = parts[part];
    if (count < 0 || next + static_cast<std::size_t>(count) > points.count()) return false;
    std::vector<geometry::Point> vertices;
    vertices.reserve(static_cast<std::size_t>(count));
    for (std::int32_t k = 0; k < count; ++k, ++next) vertices.push_back({xs[next], ys[next], 0});
    geometry::Line line(std::move(vertices));
    line.value = count > 0 ? values[next - static_cast<std::size_t>(count)] : 0.0;
    line.id = withIds ? ids[part] : static_cast<std::int32_t>(part + 1);
    cover.appendLine(std::move(line));
  }
  return true;
}

}  // namespace vellumar::engine
