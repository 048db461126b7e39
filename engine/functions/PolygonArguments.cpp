#include "engine/functions/PolygonArguments.h"

#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine::functions {

bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region) {
  geometry::Cover cover;
  if (unpackOperand(polygon, cover) && geometry::buildRegion(cover, region)) return true;
  calc.argumentError(failure, polygon.argumentPosition());
  return false;
}

geometry::SetStatus combine(S_Calculator& calc, geometry::SetOperation operation,
                            const geometry::Region& a, const geometry::Region& b, double tolerance,
                            geometry::Region& result) {
  // No measure of the overlay's progress: the window shows that it is busy and offers to cancel.
  const ProgressScope progress(calc, text::kOverlayingPolygons, 0);
  return geometry::combineRegions(operation, a, b, tolerance, result, progress.sink());
}

Operand overlay(S_Calculator& calc, geometry::SetOperation operation, const geometry::Region& a,
                const geometry::Region& b) {
  geometry::Region result;
  switch (combine(calc, operation, a, b, calc.lengthTolerance(), result)) {
    case geometry::SetStatus::Done:
      return packCover(result, Kind::Polygon);
    case geometry::SetStatus::Cancelled:
      return Operand();
    case geometry::SetStatus::Failed:
      break;
  }
  return calc.executionError();
}

ProgressScope::ProgressScope(S_Calculator& calc, const MessageText& caption, std::int64_t total)
    : sink_(calc.sink()) {
  sink_.progressStart(caption.in(calc.language()), total);
}

ProgressScope::~ProgressScope() {
  sink_.progressClose();
}

}  // namespace vellumar::engine::functions
