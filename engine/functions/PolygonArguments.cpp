#include "engine/functions/PolygonArguments.h"

#include "engine/LinePacking.h"
#include "geometry/PolygonCheck.h"

namespace vellumar::engine::functions {

geometry::Rect mapRectangle(const grid::Grid& map) {
  geometry::Rect rect;
  rect.include(map.left, map.bottom);
  rect.include(map.right, map.top);
  return rect;
}

bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region) {
  geometry::Cover cover;
  if (unpackOperand(polygon, cover) && geometry::buildRegion(std::move(cover), region)) {
    return true;
  }
  calc.argumentError(failure, polygon.argumentPosition());
  return false;
}

geometry::SetStatus overlayRegions(S_Calculator& calc, geometry::SetOperation operation,
                                   const geometry::Region& a, const geometry::Region& b,
                                   double tolerance, geometry::Region& result) {
  const ProgressScope progress(calc, text::kOverlayingPolygons, 0);
  return geometry::combineRegions(operation, a, b, tolerance, result, progress.sink());
}

}  // namespace vellumar::engine::functions
