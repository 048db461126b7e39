#include "engine/LineOperands.h"

#include <memory>

#include "data/DataKernels.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"
#include "geometry/SetOperations.h"

namespace vellumar::engine {
namespace {

// The same lines with new vertex values.
Operand withPoints(const Operand& lines, Kind kind, data::DATA points) {
  return Operand::lines(kind, std::make_shared<const data::DATA>(std::move(points)),
                        lines.sharedParts());
}

// Builds the region of a polygon operand; message 7 with its position when it is not a valid
// polygon.
bool checkedRegion(S_Calculator& calc, const Operand& polygon, geometry::Region& region) {
  geometry::Cover cover;
  if (unpackOperand(polygon, cover) && geometry::buildRegion(cover, region)) return true;
  calc.argumentError(ArgumentMessage::InvalidValue, polygon.argumentPosition());
  return false;
}

// + unites, - subtracts the right polygon from the left, * intersects.
geometry::SetOperation setOperation(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add:
      return geometry::SetOperation::Union;
    case BinaryOp::Subtract:
      return geometry::SetOperation::Difference;
    default:
      return geometry::SetOperation::Intersection;
  }
}

}  // namespace

Operand combineLinesWithNumber(S_Calculator& calc, BinaryOp op, const Operand& a,
                               const Operand& b) {
  const bool numberOnLeft = a.isNumber();
  const Operand& lines = numberOnLeft ? b : a;
  const double number = (numberOnLeft ? a : b).numberValue();
  return withPoints(
      lines, Kind::Lines,
      data::combine(lines.points(), number, op, numberOnLeft, calc.missingValue(), calc.sink()));
}

Operand combinePolygons(S_Calculator& calc, BinaryOp op, const Operand& a, const Operand& b) {
  geometry::Region first;
  geometry::Region second;
  if (!checkedRegion(calc, a, first) || !checkedRegion(calc, b, second)) return Operand();
  // The overlay reports no measure of its progress; the open caption lets the window show a busy
  // indicator whose cancel reaches the overlay.
  ErrorSink& sink = calc.sink();
  sink.progressStart(text::kOverlayingPolygons.in(calc.language()), 0);
  geometry::Region result;
  const geometry::SetStatus status = geometry::combineRegions(
      setOperation(op), first, second, calc.lengthTolerance(), result, &sink);
  sink.progressClose();
  switch (status) {
    case geometry::SetStatus::Done:
      return packCover(result, Kind::Polygon);
    case geometry::SetStatus::Cancelled:
      return Operand();
    case geometry::SetStatus::Failed:
      break;
  }
  return calc.executionError();
}

Operand applyToLines(S_Calculator& calc, UnaryFn fn, const Operand& x) {
  return withPoints(
      x, x.kind(),
      data::apply(x.points(), fn, calc.angleFactor(), calc.missingValue(), calc.sink()));
}

Operand negateLines(S_Calculator& calc, const Operand& x) {
  return withPoints(x, x.kind(), data::negate(x.points(), calc.missingValue()));
}

Operand fillLines(S_Calculator&, const Operand& target, double value) {
  if (target.points().empty() || target.parts().empty()) return target;
  const auto values = target.points().values();
  std::vector<double> filled(values.begin(), values.end());
  std::size_t first = 0;
  for (const std::int32_t count : target.parts()) {
    if (count > 0 && first < filled.size()) filled[first] = value;
    first += static_cast<std::size_t>(count);
  }
  return withPoints(target, target.kind(), target.points().withValues(std::move(filled)));
}

Operand lineExtremum(S_Calculator& calc, const Operand& x, bool largest) {
  if (x.parts().empty() || x.points().empty()) {
    calc.argumentError(ArgumentMessage::EmptyColumn, x.argumentPosition());
    return Operand();
  }
  const auto values = x.points().values();
  double result = largest ? data::kMaximumStart : data::kMinimumStart;
  std::size_t first = 0;
  for (const std::int32_t count : x.parts()) {
    if (first >= values.size()) break;
    // A line without points carries no value.
    if (count > 0 && (largest ? values[first] > result : values[first] < result)) {
      result = values[first];
    }
    first += static_cast<std::size_t>(count);
  }
  return Operand::number(result);
}

}  // namespace vellumar::engine
