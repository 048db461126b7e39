#include <gtest/gtest.h>

#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/MapLayout.h"

namespace vellumar::ui {
namespace {

TEST(MapLayout, LabelDecimalsFollowTheRange) {
  EXPECT_EQ(labelFormat(0.000001), "%.6lf");
  EXPECT_EQ(labelFormat(1.0), "%.2lf");
  EXPECT_EQ(labelFormat(100.0), "%.1lf");
  EXPECT_EQ(labelFormat(1e6), "%.1lf");
  EXPECT_EQ(labelFormat(0.05), "%.3lf");
  EXPECT_EQ(labelScale(3.0), 10.0);
  EXPECT_EQ(formatLabel(2.5, 100.0), "2.5");
}

TEST(MapLayout, TicksStandStrictlyInsideAtMultiplesOfTheStep) {
  const auto ticks = tickPositions(0.0, 1.0, 0.1);
  ASSERT_EQ(ticks.size(), 9u);
  EXPECT_DOUBLE_EQ(ticks.front(), 0.1);
  EXPECT_DOUBLE_EQ(ticks.back(), 0.9);
  EXPECT_EQ(tickPositions(-0.25, 0.25, 0.1).size(), 5u);
  EXPECT_TRUE(tickPositions(1.0, 1.0, 0.1).empty());
}

TEST(MapLayout, PlotKeepsTheAspectRatioAndMapsHalvesUpward) {
  const TextMetrics text{10, [](const std::string& s) { return static_cast<int>(s.size()) * 6; }};
  WorldBounds wide{0, 200, 0, 100, false};
  const MapLayout layout = computeLayout(500, 500, wide, text, nullptr);
  ASSERT_TRUE(layout.drawable);
  EXPECT_EQ(layout.top, 15);
  EXPECT_EQ(layout.left, 5 * 6 + 20);  // "100.0"
  EXPECT_EQ(layout.width, 500 - 50 - 15 - 10);
  EXPECT_EQ(layout.height, nearestPixel(layout.width * 0.5));
  EXPECT_EQ(layout.column(0), layout.left);
  EXPECT_EQ(layout.column(200), layout.left + layout.width);
  EXPECT_EQ(layout.row(0), layout.top + layout.height);
  EXPECT_EQ(layout.row(100), layout.top);
  EXPECT_EQ(nearestPixel(2.5), 3);
  EXPECT_EQ(nearestPixel(-2.5), -2);
  EXPECT_FALSE(computeLayout(20, 500, wide, text, nullptr).drawable);
  // A grid view leaves room for the legend.
  const double largest = 1234.5;
  EXPECT_EQ(computeLayout(500, 500, wide, text, &largest).width, 500 - 50 - 7 * 6 - 70);
}

TEST(MapLayout, ZoomRectanglesInEitherDirectionGiveTheSameBounds) {
  const WorldBounds a = zoomedBounds({1, 1, 3, 4});
  const WorldBounds b = zoomedBounds({3, 4, 1, 1});
  EXPECT_EQ(a.xmin, b.xmin);
  EXPECT_EQ(a.ymax, b.ymax);
  EXPECT_EQ(a.xmin, 1);
  EXPECT_EQ(a.ymax, 4);
  const WorldBounds point = zoomedBounds({2, 2, 2, 2});
  EXPECT_DOUBLE_EQ(point.xmin, 1.9);
  EXPECT_DOUBLE_EQ(point.ymax, 2.1);
}

TEST(ColorClasses, HalfOpenClassesBetweenMinimumAndMaximum) {
  const ColorClasses classes(0, 10);
  EXPECT_EQ(classes.classCount(), 10);
  EXPECT_EQ(classes.classOf(-1), 0);
  EXPECT_EQ(classes.classOf(0.999), 0);
  EXPECT_EQ(classes.classOf(1), 1);
  EXPECT_EQ(classes.classOf(8.5), 8);
  EXPECT_EQ(classes.classOf(9), 9);
  EXPECT_EQ(classes.classOf(10), 9);
  EXPECT_EQ(classes.classOf(11), 9);
  EXPECT_EQ(classes.lowerBound(3), 3);
  const ColorClasses flat(5, 5);
  EXPECT_EQ(flat.classCount(), 1);
  EXPECT_EQ(flat.classOf(5), 0);
  EXPECT_EQ(flat.classOf(7), 0);
  // The documented colours, lowest class first.
  EXPECT_EQ(classes.color(0), 0x804000u);
  EXPECT_EQ(classes.color(9), 0x0032FAu);
}

}  // namespace
}  // namespace vellumar::ui
