#include "engine/LineOperands.h"

#include <memory>

#include "data/DataKernels.h"
#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/OverlayRecords.h"
#include "engine/functions/Functions.h"
#include "engine/functions/PolygonArguments.h"
#include "geometry/SetOperations.h"

namespace vellumar::engine {
namespace {

// The same lines, with their ids and attributes, with new vertex values.
Operand withPoints(const Operand& lines, Kind kind, data::DATA points) {
  return Operand::lines(kind, std::make_shared<const data::DATA>(std::move(points)),
                        lines.sharedParts(), lines.sharedIds(), lines.attributes());
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
  if (!functions::checkCoordinates(calc, a) || !functions::checkCoordinates(calc, b) ||
      !functions::polygonRegion(calc, a, ArgumentMessage::InvalidValue, first) ||
      !functions::polygonRegion(calc, b, ArgumentMessage::InvalidValue, second)) {
    return Operand();
  }
  // Each result ring takes the record of an operand ring, with its attributes.
  const std::vector<RecordSource> sources = numberRecordsApart(first, second);
  geometry::Region result;
  switch (functions::overlayRegions(calc, setOperation(op), first, second, calc.lengthTolerance(),
                                    result)) {
    case geometry::SetStatus::Done:
      return packOverlayResult(std::move(result), sources, a, b);
    case geometry::SetStatus::Cancelled:
      return Operand();
    case geometry::SetStatus::Failed:
      break;
  }
  return calc.executionError();
}

Operand applyToLines(const EvalContext& context, UnaryFn fn, const Operand& x) {
  return withPoints(
      x, x.kind(),
      data::apply(x.points(), fn, context.angleFactor(), context.missingValue(), context.sink()));
}

Operand negateLines(S_Calculator& calc, const Operand& x) {
  return withPoints(x, x.kind(), data::negate(x.points(), calc.missingValue()));
}

Operand fillLines(S_Calculator&, const Operand& target, double value) {
  if (target.points().empty() || target.parts().empty()) return target;
  const auto values = target.points().values();
  std::vector<double> filled(values.begin(), values.end());
  forEachPackedPart(target, [&](PackedPart part) {
    if (part.count > 0) filled[part.first] = value;
  });
  return withPoints(target, target.kind(), target.points().withValues(std::move(filled)));
}

Operand lineExtremum(S_Calculator& calc, const Operand& x, bool largest) {
  if (x.parts().empty() || x.points().empty()) {
    calc.argumentError(ArgumentMessage::EmptyColumn, x.argumentPosition());
    return Operand();
  }
  const auto values = x.points().values();
  double result = largest ? data::kMaximumStart : data::kMinimumStart;
  forEachPackedPart(x, [&](PackedPart part) {
    // A line without points carries no value.
    if (part.count == 0) return;
    const double value = values[part.first];
    if (largest ? value > result : value < result) result = value;
  });
  return Operand::number(result);
}

}  // namespace vellumar::engine
