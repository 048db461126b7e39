#include "engine/functions/PolygonArguments.h"

#include "common/CFormat.h"
#include "engine/CheckedRegion.h"
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

namespace {

// Thrown out of a check that was cancelled, so that FillOnce leaves it unmade.
struct CheckCancelled {};

// The polygon check of a layer's rings, shown as its own stage of progress.
geometry::LayerRegion checkLayer(S_Calculator& calc, const geometry::Cover& cover,
                                 geometry::Region& region) {
  const ProgressScope progress(calc, text::kCheckingPolygons, 0);
  return geometry::buildLayerRegion(cover, region, progress.sink());
}

// The outcome of a check as the evaluation's error; true when the check succeeded.
bool acceptChecked(S_Calculator& calc, const geometry::LayerRegion& built, std::uint32_t position,
                   ArgumentMessage failure) {
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

// Fills the checked region of a polygon operand's contents unless it is made already.
void checkOnce(S_Calculator& calc, const Operand& polygon, CheckedRegion& checked) {
  checked.once([&] {
    geometry::Cover cover;
    // Rings that cannot be read fail as rings that fail the check do.
    if (!unpackOperand(polygon, cover)) return;
    checked.built = checkLayer(calc, cover, checked.region);
    if (checked.built.status == geometry::LayerStatus::Cancelled) {
      checked.built = {};
      checked.region = {};
      throw CheckCancelled();
    }
  });
}

}  // namespace

bool polygonRegion(S_Calculator& calc, const Operand& polygon, ArgumentMessage failure,
                   geometry::Region& region) {
  const std::uint32_t position = polygon.argumentPosition();
  const std::shared_ptr<CheckedRegion>& checked = polygon.checkedRegion();
  if (!checked) {  // no polygon contents at all
    calc.argumentError(failure, position);
    return false;
  }
  try {
    checkOnce(calc, polygon, *checked);
  } catch (const CheckCancelled&) {
    return false;
  }
  if (!acceptChecked(calc, checked->built, position, failure)) return false;
  region = checked->region;
  return true;
}

bool layerRegion(S_Calculator& calc, const geometry::Cover& cover, std::uint32_t position,
                 ArgumentMessage failure, geometry::Region& region) {
  return acceptChecked(calc, checkLayer(calc, cover, region), position, failure);
}

geometry::SetStatus overlayRegions(S_Calculator& calc, geometry::SetOperation operation,
                                   const geometry::Region& a, const geometry::Region& b,
                                   double tolerance, geometry::Region& result) {
  const ProgressScope progress(calc, text::kOverlayingPolygons, 0);
  return geometry::combineRegions(operation, a, b, tolerance, result, progress.sink());
}

}  // namespace vellumar::engine::functions
