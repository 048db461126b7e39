#include <cmath>
#include <ctime>
#include <memory>
#include <optional>

#include "engine/Calculator.h"
#include "engine/ProgressScope.h"
#include "engine/functions/Functions.h"
#include "grid/GridConstruction.h"

namespace vellumar::engine::functions {

namespace {

std::uint32_t position(std::size_t index) {
  return static_cast<std::uint32_t>(index + 1);
}

// Records message 6 for the argument unless it is a number.
bool isNumber(S_Calculator& calc, const Arguments& args, std::size_t index) {
  if (args[index].isNumber()) return true;
  calc.argumentError(ArgumentMessage::InvalidType, position(index));
  return false;
}

// Records message 7 for the argument unless the condition holds.
bool holds(S_Calculator& calc, bool condition, std::size_t index) {
  if (!condition) calc.argumentError(ArgumentMessage::InvalidValue, position(index));
  return condition;
}

// The lattice of the rectangle-and-steps arguments 1 ... 6, checked in order: X extent, Y extent,
// then each step; nullopt once a message is recorded.
struct StepLattice {
  grid::Grid grid;
  double hx = 0.0;
  double hy = 0.0;
};

std::optional<StepLattice> latticeArguments(S_Calculator& calc, const Arguments& args) {
  const auto at = [&args](std::size_t k) { return args[k].numberValue(); };
  if (!isNumber(calc, args, 0) || !isNumber(calc, args, 1) || !holds(calc, at(0) < at(1), 1)) {
    return std::nullopt;
  }
  if (!isNumber(calc, args, 2) || !isNumber(calc, args, 3) || !holds(calc, at(2) < at(3), 3)) {
    return std::nullopt;
  }
  if (!isNumber(calc, args, 4) || !holds(calc, at(4) > 0.0, 4) || !isNumber(calc, args, 5) ||
      !holds(calc, at(5) > 0.0, 5)) {
    return std::nullopt;
  }
  std::optional<grid::Grid> lattice =
      grid::latticeFromSteps(at(0), at(1), at(2), at(3), at(4), at(5));
  if (!lattice) {
    calc.executionError();
    return std::nullopt;
  }
  return StepLattice{std::move(*lattice), at(4), at(5)};
}

Operand coordinateGrid(S_Calculator& calc, Arguments& args, grid::Axis axis) {
  if (args.size() == 1) {
    const grid::Grid& shape = *args[0].gridValue();
    const double step = axis == grid::Axis::X ? shape.stepX() : shape.stepY();
    return Operand::newGrid(grid::coordinateGrid(shape, axis, step));
  }
  const std::optional<StepLattice> lattice = latticeArguments(calc, args);
  if (!lattice) return Operand();
  const double step = axis == grid::Axis::X ? lattice->hx : lattice->hy;
  return Operand::newGrid(grid::coordinateGrid(lattice->grid, axis, step));
}

// The law number at lawAt and its parameters after it, checked in order; the missing parameters
// repeat the last one given. False once a message is recorded.
bool randomLawArguments(S_Calculator& calc, const Arguments& args, std::size_t lawAt,
                        double parameters[3]) {
  if (!isNumber(calc, args, lawAt)) return false;
  const double law = args[lawAt].numberValue();
  if (!holds(calc, law >= 1.0 && law <= grid::kRandomLawCount, lawAt)) return false;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t index = std::min(lawAt + 1 + k, args.size() - 1);
    if (!isNumber(calc, args, index)) return false;
    parameters[k] = args[index].numberValue();
  }
  switch (grid::invalidRandomParameter(law, parameters[0], parameters[1], parameters[2])) {
    case grid::RandomParameter::None:
      return true;
    case grid::RandomParameter::Law:
      return holds(calc, false, lawAt);
    case grid::RandomParameter::A:
      return holds(calc, false, lawAt + 1);
    case grid::RandomParameter::B:
      return holds(calc, false, lawAt + 2);
    case grid::RandomParameter::C:
      return holds(calc, false, lawAt + 3);
  }
  return false;
}

}  // namespace

Operand onesGrid(S_Calculator& calc, Arguments& args) {
  if (args.size() == 1) return Operand::newGrid(grid::onesLike(*args[0].gridValue()));
  const std::optional<StepLattice> lattice = latticeArguments(calc, args);
  if (!lattice) return Operand();
  return Operand::newGrid(grid::onesLike(lattice->grid));
}

Operand xCoordinateGrid(S_Calculator& calc, Arguments& args) {
  return coordinateGrid(calc, args, grid::Axis::X);
}

Operand yCoordinateGrid(S_Calculator& calc, Arguments& args) {
  return coordinateGrid(calc, args, grid::Axis::Y);
}

Operand randomGrid(S_Calculator& calc, Arguments& args) {
  // Eight or more arguments are the rectangle form, fewer the prototype form.
  const bool rectangleForm = args.size() >= 8;
  std::optional<StepLattice> lattice;
  const grid::Grid* shape = nullptr;
  if (rectangleForm) {
    lattice = latticeArguments(calc, args);
    if (!lattice) return Operand();
    shape = &lattice->grid;
  } else {
    if (args[0].kind() != Kind::Grid) {
      calc.argumentError(ArgumentMessage::InvalidType, 1);
      return Operand();
    }
    shape = args[0].gridValue();
  }
  const std::size_t lawAt = rectangleForm ? 6 : 1;
  double parameters[3] = {0.0, 0.0, 0.0};
  if (!randomLawArguments(calc, args, lawAt, parameters)) return Operand();
  // One seed per call, from the calendar time in whole seconds.
  const auto seed = static_cast<std::uint32_t>(std::time(nullptr));
  return Operand::newGrid(grid::randomGrid(*shape, args[lawAt].numberValue(), parameters[0],
                                           parameters[1], parameters[2], seed));
}

Operand denseGrid(S_Calculator& calc, Arguments& args) {
  const double factor = args[1].numberValue();
  if (!holds(calc, factor > 0.0, 1)) return Operand();
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  std::optional<grid::Grid> result = grid::dense(*args[0].gridValue(), factor, progress.sink());
  if (calc.failed()) return Operand();
  if (!result) return calc.executionError();
  return Operand::newGrid(std::move(*result));
}

Operand cutGrid(S_Calculator& calc, Arguments& args) {
  const grid::Grid& source = *args[0].gridValue();
  const auto at = [&args](std::size_t k) { return args[k].numberValue(); };
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  if (args.size() == 5) {
    return Operand::newGrid(grid::cutByNodes(source, at(1), at(2), at(3), at(4), calc.sink()));
  }
  return Operand::newGrid(
      grid::cutByCoordinates(source, at(1), at(2), at(3), at(4), at(5), calc.sink()));
}

Operand mergeGrids(S_Calculator& calc, Arguments& args) {
  const ProgressScope progress(calc, text::kComputingGrid, 0);
  return Operand::newGrid(
      grid::merge(*args[0].gridValue(), *args[1].gridValue(), calc.mergeFill(), calc.sink()));
}

}  // namespace vellumar::engine::functions
