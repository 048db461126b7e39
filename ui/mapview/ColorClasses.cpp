#include "ui/mapview/ColorClasses.h"

#include <cmath>

namespace vellumar::ui {

ColorClasses::ColorClasses(double minimum, double maximum)
    : minimum_(minimum),
      width_(maximum > minimum ? (maximum - minimum) / kCount : 0.0),
      classes_(maximum > minimum ? kCount : 1) {}

int ColorClasses::classOf(double value) const {
  if (classes_ == 1 || !(value >= minimum_)) return 0;
  if (value >= lowerBound(classes_ - 1)) return classes_ - 1;
  const int index = static_cast<int>(std::floor((value - minimum_) / width_));
  // Rounding at a bound may land one class off: settle it on the half-open intervals.
  if (index > 0 && value < lowerBound(index)) return index - 1;
  if (index + 1 < classes_ && value >= lowerBound(index + 1)) return index + 1;
  return index < 0 ? 0 : index;
}

}  // namespace vellumar::ui
