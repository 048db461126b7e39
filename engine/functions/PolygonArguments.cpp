#include "engine/functions/PolygonArguments.h"

#include "common/CFormat.h"
#include "engine/EngineMessages.h"
#include "engine/LinePacking.h"
#include "geometry/LayerRegion.h"
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
  if (!unpackOperand(polygon, cover)) {
    calc.argumentError(failure, polygon.argumentPosition());
    return false;
  }
  return layerRegion(calc, cover, polygon.argumentPosition(), failure, region);
}

bool layerRegion(S_Calculator& calc, const geometry::Cover& cover, std::uint32_t position,
                 ArgumentMessage failure, geometry::Region& region) {
  const ProgressScope progress(calc, text::kCheckingPolygons, 0);
  const geometry::LayerRegion built = geometry::buildLayerRegion(cover, region, progress.sink());
  switch (built.status) {
    case geometry::LayerStatus::Done:
      return true;
    case geometry::LayerStatus::Cancelled:
      return false;
    case geometry::LayerStatus::Invalid:
    case geometry::LayerStatus::Overlap:
      break;
  }
  const bool first = !calc.sink().failed();
  calc.argumentError(failure, position);
  if (first && built.status == geometry::LayerStatus::Overlap) {
    calc.sink().setDetail(
        cformat(text::kRecordsOverlap.in(calc.language()), built.first, built.second));
  }
  return false;
}

geometry::SetStatus overlayRegions(S_Calculator& calc, geometry::SetOperation operation,
                                   const geometry::Region& a, const geometry::Region& b,
                                   double tolerance, geometry::Region& result) {
  const ProgressScope progress(calc, text::kOverlayingPolygons, 0);
  return geometry::combineRegions(operation, a, b, tolerance, result, progress.sink());
}

}  // namespace vellumar::engine::functions
