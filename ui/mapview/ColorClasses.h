#pragma once

#include <array>
#include <cstdint>

namespace vellumar::ui {

// The ten colour classes of a grid view: equal-width classes between the grid's smallest and
// largest value (one class when they are equal), coloured from brown (lowest) to blue (highest).
class ColorClasses {
 public:
  static constexpr int kCount = 10;
  // 0xRRGGBB of each class, lowest first.
  static constexpr std::array<std::uint32_t, kCount> kColors = {
      0x804000, 0xC06000, 0xFF8000, 0xFFC040, 0xFFE120,
      0x7DFF00, 0x00FF00, 0x00BE56, 0x0080C0, 0x0032FA};

  ColorClasses(double minimum, double maximum);

  int classCount() const { return classes_; }
  // The class of a value: below the first bound the first class, at or above the last bound the
  // last class, otherwise the class whose half-open interval holds it.
  int classOf(double value) const;
  // The lower bound of a class.
  double lowerBound(int index) const { return minimum_ + index * width_; }
  std::uint32_t color(int index) const { return kColors[static_cast<std::size_t>(index)]; }

 private:
  double minimum_;
  double width_;
  int classes_;
};

}  // namespace vellumar::ui
