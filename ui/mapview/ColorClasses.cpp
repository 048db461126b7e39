#include "ui/mapview/ColorClasses.h"

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"
#include "grid/Blank.h"

namespace vellumar::ui::mapview {
namespace {

std::vector<double> equalIntervals(double minimum, double maximum) {
  if (!(maximum > minimum)) return {minimum};
  const double width = (maximum - minimum) / ColorClasses::kCount;
  std::vector<double> bounds(ColorClasses::kCount);
  for (int k = 0; k < ColorClasses::kCount; ++k)
    bounds[static_cast<std::size_t>(k)] = minimum + k * width;
  return bounds;
}

}  // namespace

ColorClasses::ColorClasses(double minimum, double maximum)
    : bounds_(equalIntervals(minimum, maximum)), maximum_(std::max(minimum, maximum)) {}

ColorClasses::ColorClasses(std::vector<double> bounds, double maximum)
    : bounds_(std::move(bounds)), maximum_(maximum) {}

ColorClasses ColorClasses::equalCount(std::span<const double> values) {
  std::vector<double> finite;
  finite.reserve(values.size());
  // Blank nodes (1.70141e38 outside a DEM's border) are no values: counted, they would take the
  // upper classes and the legend's top label.
  for (const double v : values) {
    if (std::isfinite(v) && !grid::isBlank(v)) finite.push_back(v);
  }
  if (finite.empty()) return ColorClasses(0.0, 0.0);
  // Each decile is found by a partial sort of the part above the previous one.
  std::vector<double> bounds;
  auto from = finite.begin();
  for (int k = 0; k < kCount; ++k) {
    const auto at = finite.begin() + static_cast<std::ptrdiff_t>(finite.size() * k / kCount);
    std::nth_element(from, at, finite.end());
    if (bounds.empty() || *at > bounds.back()) bounds.push_back(*at);
    from = at;
  }
  const double maximum = *std::max_element(from, finite.end());
  return ColorClasses(std::move(bounds), maximum);
}

int ColorClasses::classOf(double value) const {
  if (std::isnan(value)) return 0;
  const auto above = std::upper_bound(bounds_.begin() + 1, bounds_.end(), value);
  return static_cast<int>(above - (bounds_.begin() + 1));
}

std::uint32_t ColorClasses::color(int index) const {
  const int count = classCount();
  const int spread = count <= 1 ? 0 : index * (kCount - 1) / (count - 1);
  return kColors[static_cast<std::size_t>(spread)];
}

std::vector<std::string> ColorClasses::boundLabels() const {
  double narrowest = 0.0;
  for (std::size_t k = 0; k < bounds_.size(); ++k) {
    const double next = k + 1 < bounds_.size() ? bounds_[k + 1] : maximum_;
    const double width = next - bounds_[k];
    if (width > 0 && (narrowest == 0.0 || width < narrowest)) narrowest = width;
  }
  int decimals = 2;
  if (narrowest > 0 && std::isfinite(narrowest)) {
    decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(narrowest))), 2, 12);
  }
  std::vector<std::string> labels;
  for (const double bound : bounds_) labels.push_back(cformat("%.*f", decimals, bound));
  labels.push_back(cformat("%.*f", decimals, maximum_));
  return labels;
}

}  // namespace vellumar::ui::mapview
