#include "engine/Calculator.h"
#include "engine/LinePacking.h"
#include "engine/functions/Functions.h"
#include "grid/Grid.h"
#include "isolines/Trace.h"

namespace vellumar::engine::functions {

Operand traceIsolines(S_Calculator& calc, Arguments& args) {
  if (calc.failed()) return Operand();
  const double lowest = args[1].numberValue();
  const double highest = args[2].numberValue();
  const double step = args[3].numberValue();
  const double densification = args[4].numberValue();
  // Written as negations so that a NaN argument is refused as well.
  if (!(lowest <= highest)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 1);
    return Operand();
  }
  if (!(step > 0.0)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 4);
    return Operand();
  }
  if (!(densification > 0.0)) {
    calc.argumentError(ArgumentMessage::InvalidValue, 5);
    return Operand();
  }
  const grid::Grid& map = *args[0].gridValue();
  isolines::TraceRequest request;
  request.lowest = lowest;
  request.highest = highest;
  request.step = step;
  request.cellSize = isolines::cellSizeParameter(map, densification);
  request.progress = true;
  request.language = calc.language();
  geometry::Cover cover;
  const int status = isolines::trace(cover, map, request, &calc.sink());
  // A lattice that does not fit in memory, or a trace that failed on its own (not cancelled), is
  // an error rather than a map without isolines.
  if (status == isolines::kTraceNoMemory) {
    calc.sink().record(sink_code::kMessage, text::kOutOfMemory.in(calc.language()));
    return Operand();
  }
  if (status == isolines::kTraceFailed && !calc.failed()) return calc.executionError();
  return packCover(cover, Kind::Lines);
}

}  // namespace vellumar::engine::functions
