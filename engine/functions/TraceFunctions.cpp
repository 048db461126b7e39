#include <memory>
#include <utility>

#include "common/Memory.h"
#include "engine/Calculator.h"
#include "engine/functions/Functions.h"
#include "grid/Grid.h"
#include "isolines/Trace.h"

namespace vellumar::engine::functions {

namespace {

// Packs traced pieces into a lines operand without copying their coordinates: the point arrays
// move into the operand, and each point gets its piece's level as its value.
Operand packTracedLines(isolines::TracedLines& lines) {
  std::vector<double> values;
  values.reserve(lines.pointCount());
  memory::adviseHugePages(values.data(), lines.pointCount() * sizeof(double));
  for (std::size_t k = 0; k < lines.size(); ++k) {
    values.insert(values.end(), static_cast<std::size_t>(lines.counts[k]), lines.levels[k]);
  }
  auto points =
      std::make_shared<const data::DATA>(std::move(values), std::move(lines.x), std::move(lines.y));
  auto parts = std::make_shared<const std::vector<std::int32_t>>(std::move(lines.counts));
  lines.clear();
  return Operand::lines(Kind::Lines, std::move(points), std::move(parts));
}

}  // namespace

bool traceMap(S_Calculator& calc, const grid::Grid& map, const TraceLevels& levels,
              isolines::TracedLines& lines) {
  isolines::TraceRequest request;
  request.lowest = levels.lowest;
  request.highest = levels.highest;
  request.step = levels.step;
  request.cellSize = isolines::cellSizeParameter(map, levels.densification);
  request.blankFill = levels.blankFill;
  request.progress = true;
  request.language = calc.language();
  const auto status = isolines::trace(lines, map, request, &calc.sink());
  // A trace that failed on its own (not cancelled) is an error rather than a map without isolines.
  // A lattice that does not fit in memory throws, for the evaluation's guard to say so.
  if (status == isolines::TraceStatus::Failed && !calc.failed()) calc.executionError();
  return !calc.failed();
}

Operand traceIsolines(S_Calculator& calc, Arguments& args) {
  if (calc.failed()) return Operand();
  TraceLevels levels;
  levels.lowest = args[1].numberValue();
  levels.highest = args[2].numberValue();
  levels.step = args[3].numberValue();
  levels.densification = args[4].numberValue();
  // Positions count the map as argument 1. Written as negations so that a NaN argument is
  // refused as well.
  if (!(levels.lowest <= levels.highest)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 2);
    return Operand();
  }
  if (!(levels.step > 0.0)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 4);
    return Operand();
  }
  if (!(levels.densification > 0.0)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 5);
    return Operand();
  }
  isolines::TracedLines lines;
  if (!traceMap(calc, *args[0].gridValue(), levels, lines)) return Operand();
  return packTracedLines(lines);
}

}  // namespace vellumar::engine::functions
