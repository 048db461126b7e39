#include <cmath>
#include <memory>

#include "engine/Calculator.h"
#include "engine/ProgressScope.h"
#include "engine/functions/Functions.h"
#include "grid/Derivatives.h"
#include "grid/Sampling.h"

namespace vellumar::engine::functions {

namespace {

// A derivative grid of the map, its progress shown.
Operand derivativeOperand(S_Calculator& calc, const grid::Grid& map, int code) {
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  return Operand::newGrid(grid::derivativeGrid(map, code, progress.sink()));
}

}  // namespace

template <int code>
Operand derivative(S_Calculator& calc, Arguments& args) {
  return derivativeOperand(calc, *args[0].gridValue(), code);
}

Operand specialGrid(S_Calculator& calc, Arguments& args) {
  const double n = args[1].numberValue();
  if (!grid::isSpecialNumber(n)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 2);
    return Operand();
  }
  const int code = static_cast<int>(std::trunc(n)) + grid::kFirstSpecialCode - 1;
  return derivativeOperand(calc, *args[0].gridValue(), code);
}

template <int quantity>
Operand sampleGrid(S_Calculator& calc, Arguments& args) {
  const data::DATA& points = args[0].points();
  if (!points.hasCoordinates()) {
    calc.argumentError(ArgumentMessage::NoCoordinates, 1);
    return Operand();
  }
  const ProgressScope progress(calc, text::kComputingData, 0);
  std::vector<double> values =
      grid::sampleAtPoints(*args[1].gridValue(), static_cast<grid::SampledQuantity>(quantity),
                           points.x(), points.y(), calc.missingValue(), progress.sink());
  if (calc.failed()) return Operand();
  return Operand::data(std::make_shared<const data::DATA>(points.withValues(std::move(values))));
}

Operand gridToData(S_Calculator& calc, Arguments& args) {
  if (args[0].kind() == Kind::Data) return Operand::data(args[0].sharedPoints());
  const ProgressScope progress(calc, text::kComputingData, 0);
  grid::GridPoints points =
      grid::gridToPoints(*args[0].gridValue(), calc.missingValue(), progress.sink());
  if (calc.failed()) return Operand();
  return Operand::data(std::make_shared<const data::DATA>(
      std::move(points.values), std::move(points.x), std::move(points.y)));
}

template Operand derivative<1>(S_Calculator&, Arguments&);
template Operand derivative<2>(S_Calculator&, Arguments&);
template Operand derivative<3>(S_Calculator&, Arguments&);
template Operand derivative<4>(S_Calculator&, Arguments&);
template Operand derivative<5>(S_Calculator&, Arguments&);
template Operand sampleGrid<0>(S_Calculator&, Arguments&);
template Operand sampleGrid<1>(S_Calculator&, Arguments&);
template Operand sampleGrid<2>(S_Calculator&, Arguments&);
template Operand sampleGrid<3>(S_Calculator&, Arguments&);
template Operand sampleGrid<4>(S_Calculator&, Arguments&);
template Operand sampleGrid<5>(S_Calculator&, Arguments&);

}  // namespace vellumar::engine::functions
