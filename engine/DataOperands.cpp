#include "engine/DataOperands.h"

#include <memory>

#include "data/DataKernels.h"
#include "engine/Calculator.h"
#include "engine/ProgressScope.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

Operand dataOperand(data::DATA points) {
  return Operand::data(std::make_shared<const data::DATA>(std::move(points)));
}

// The surface of a grid as the data kernels read it: defined on the closed rectangle, except where
// it is blank.
class GridSurface final : public data::SurfaceSampler {
 public:
  explicit GridSurface(const grid::Grid& grid) : grid_(grid) {}
  bool contains(double x, double y) const override {
    return x >= grid_.left && x <= grid_.right && y >= grid_.bottom && y <= grid_.top &&
           !grid_.blankAt(x, y);
  }
  double value(double x, double y) const override { return grid_.value(x, y); }

 private:
  const grid::Grid& grid_;
};

Operand combineDataWithGrid(S_Calculator& calc, BinaryOp op, Operand& a, Operand& b) {
  const bool dataOnLeft = a.kind() == Kind::Data;
  Operand& dataSide = dataOnLeft ? a : b;
  if (!dataSide.points().hasCoordinates()) {
    calc.argumentError(ArgumentMessage::NoCoordinates, dataSide.argumentPosition());
    return Operand();
  }
  const grid::Grid& map = *(dataOnLeft ? b : a).gridValue();
  if (!map.prepareSurface(&calc.sink())) return Operand();
  const GridSurface surface(map);
  return dataOperand(data::combineWithSurface(dataSide.takePoints(), surface, op, dataOnLeft,
                                              calc.missingValue(), calc.sink()));
}

}  // namespace

Operand combineData(S_Calculator& calc, BinaryOp op, Operand a, Operand b) {
  const ProgressScope progress(calc, text::kComputingData, 0);
  if (a.kind() == Kind::Grid || b.kind() == Kind::Grid) return combineDataWithGrid(calc, op, a, b);
  if (a.kind() == Kind::Data && b.kind() == Kind::Data) {
    return dataOperand(
        data::combine(a.takePoints(), b.takePoints(), op, calc.missingValue(), calc.sink()));
  }
  const bool numberOnLeft = a.isNumber();
  Operand& dataSide = numberOnLeft ? b : a;
  const double number = (numberOnLeft ? a : b).numberValue();
  return dataOperand(data::combine(dataSide.takePoints(), number, op, numberOnLeft,
                                   calc.missingValue(), calc.sink()));
}

Operand applyToData(const EvalContext& context, UnaryFn fn, const Operand& x) {
  const ProgressScope progress(context, text::kComputingData, 0);
  return dataOperand(
      data::apply(x.points(), fn, context.angleFactor(), context.missingValue(), context.sink()));
}

Operand negateData(S_Calculator& calc, const Operand& x) {
  const ProgressScope progress(calc, text::kComputingData, 0);
  return dataOperand(data::negate(x.points(), calc.missingValue(), progress.sink()));
}

Operand fillData(S_Calculator& calc, const Operand& target, double value) {
  return dataOperand(data::filled(target.points(), value, calc.missingValue()));
}

Operand dataExtremum(S_Calculator& calc, const Operand& x, bool largest) {
  if (x.points().empty()) {
    calc.argumentError(ArgumentMessage::EmptyColumn, x.argumentPosition());
    return Operand();
  }
  const double missing = calc.missingValue();
  return Operand::number(largest ? data::maximum(x.points(), missing)
                                 : data::minimum(x.points(), missing));
}

Operand dataSum(S_Calculator& calc, const Operand& x) {
  return Operand::number(data::sum(x.points(), calc.missingValue()));
}

}  // namespace vellumar::engine
