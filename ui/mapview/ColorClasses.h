#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vellumar::ui::mapview {

// How a grid view divides its values into colour classes.
enum class ClassMode {
  EqualIntervals,  // ten classes of equal width between the smallest and the largest value
  EqualCount,      // up to ten classes holding about as many nodes each (deciles)
};

// The colour classes of a grid view, coloured from brown (lowest) to blue (highest). Each class
// is the half-open interval from its lower bound to the next one; values below the first bound
// fall into the first class, values at or above the last into the last. A flat grid has one
// class.
class ColorClasses {
 public:
  static constexpr int kCount = 10;
  // 0xRRGGBB of each class, lowest first.
  static constexpr std::array<std::uint32_t, kCount> kColors = {
      0x804000, 0xC06000, 0xFF8000, 0xFFC040, 0xFFE120,
      0x7DFF00, 0x00FF00, 0x00BE56, 0x0080C0, 0x0032FA};

  // Ten equal intervals between minimum and maximum (one class when they are equal).
  ColorClasses(double minimum, double maximum);
  // Classes of about equal node counts: the deciles of the finite values that are not blank
  // nodes, repeated bounds merged, so a map with a few extreme nodes still shows its ordinary
  // range in every colour.
  static ColorClasses equalCount(std::span<const double> values);

  int classCount() const { return static_cast<int>(bounds_.size()); }
  int classOf(double value) const;
  double lowerBound(int index) const { return bounds_[static_cast<std::size_t>(index)]; }
  // The largest value, the upper end of the last class.
  double maximum() const { return maximum_; }
  // Fewer than ten classes take colours spread over the whole scale, lowest and highest kept.
  std::uint32_t color(int index) const;
  // Legend labels: every lower bound and the maximum, lowest first, with the decimals that tell
  // adjacent bounds apart (at least two).
  std::vector<std::string> boundLabels() const;

 private:
  ColorClasses(std::vector<double> bounds, double maximum);

  std::vector<double> bounds_;
  double maximum_;
};

}  // namespace vellumar::ui::mapview
