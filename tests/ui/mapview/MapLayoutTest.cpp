#include <array>
#include <tuple>

#include "MapViewTestSupport.h"
#include "grid/Blank.h"
#include "ui/mapview/ColorClasses.h"

namespace vellumar::ui::mapview {
namespace {

using testing::expectInsideAndApart;

TEST(MapLayout, LabelsFollowTheRangeAndReadingsTheResolution) {
  const std::pair<double, const char*> formats[] = {
      {0.000001, "%.6lf"}, {1.0, "%.2lf"}, {100.0, "%.1lf"}, {1e6, "%.1lf"}, {0.05, "%.3lf"}};
  for (const auto& [range, format] : formats) EXPECT_EQ(labelFormat(range), format) << range;
  EXPECT_EQ(labelScale(3.0), 10.0);
  EXPECT_EQ(formatLabel(2.5, 100.0), "2.5");
  // Readings keep the digits the resolution needs, never fewer than six.
  EXPECT_EQ(std::vector({significantDigits(10, 0.02), significantDigits(600000, 0.01),
                         significantDigits(6e6, 1e-9), significantDigits(0, 1)}),
            std::vector({6, 9, 15, 6}));
  EXPECT_EQ(formatReading(512345.678, significantDigits(600000, 0.01)), "512345.678");
  EXPECT_EQ(formatReading(0.000123456789, 6), "0.000123457");
}

const TextMetrics kText{10, [](const std::string& s) { return static_cast<int>(s.size()) * 6; }};

TEST(MapLayout, PlotFillsTheClientAreaWithEqualScalesAndZoomsToRectangles) {
  const WorldBounds wide{0, 200, 0, 100, false};
  const MapLayout layout = computeLayout(500, 500, wide, kText, {});
  ASSERT_TRUE(layout.drawable);
  // All but the labels and the status line is plot.
  EXPECT_EQ(layout.statusTop, 500 - 16);
  EXPECT_LE(layout.left, 60);
  EXPECT_GE(layout.left + layout.width, 500 - 30);
  EXPECT_GE(layout.height, layout.statusTop - layout.top - 30);
  // One world unit is as many pixels along x as along y; the requested bounds are inside, centred.
  const WorldBounds& w = layout.world;
  EXPECT_NEAR((w.xmax - w.xmin) / layout.width, (w.ymax - w.ymin) / layout.height, 1e-9);
  EXPECT_EQ(std::pair(w.xmin, w.xmax), std::pair(0.0, 200.0));
  EXPECT_TRUE(w.ymin < 0 && w.ymax > 100) << w.ymin << " " << w.ymax;
  EXPECT_NEAR(w.ymin + w.ymax, 100, 1e-9);
  EXPECT_EQ(std::pair(layout.column(0), layout.column(200)),
            std::pair(layout.left, layout.left + layout.width));
  EXPECT_NEAR(layout.worldX(layout.column(37.5)), 37.5, layout.pixelSize());
  EXPECT_NEAR(layout.worldY(layout.row(62.5)), 62.5, layout.pixelSize());
  EXPECT_EQ(std::pair(nearestPixel(2.5), nearestPixel(-2.5)), std::pair(3, -2));
  EXPECT_FALSE(computeLayout(20, 500, wide, kText, {}).drawable);
  EXPECT_FALSE(computeLayout(500, 500, WorldBounds{}, kText, {}).drawable);

  // Padding keeps points on the bounds that many pixels inside the frame; a legend takes its
  // width from the plot.
  const MapLayout padded = computeLayout(500, 500, wide, kText, {0, 8});
  EXPECT_GE(padded.column(0) - padded.left, 7);
  EXPECT_GE(padded.left + padded.width - padded.column(200), 7);
  EXPECT_GE(padded.row(0) - padded.top, 7);
  const MapLayout legend = computeLayout(500, 500, wide, kText, {120, 0});
  EXPECT_EQ(legend.left + legend.width, 500 - 120);

  // Zoom rectangles drawn in either direction give the same bounds.
  for (const WorldBounds& zoomed : {zoomedBounds({1, 1, 3, 4}), zoomedBounds({3, 4, 1, 1})})
    EXPECT_EQ(std::pair(zoomed.xmin, zoomed.ymax), std::pair(1.0, 4.0));
  const WorldBounds point = zoomedBounds({2, 2, 2, 2});
  EXPECT_DOUBLE_EQ(point.xmin, 1.9);
  EXPECT_DOUBLE_EQ(point.ymax, 2.1);
}

TEST(MapLayout, TicksStandInsideAndTheirLabelsNeverOverlapOrLeaveTheWindow) {
  // Ticks stand strictly inside, at multiples of the step.
  const auto ticks = tickPositions(0.0, 1.0, 0.1);
  ASSERT_EQ(ticks.size(), 9u);
  EXPECT_DOUBLE_EQ(ticks.front(), 0.1);
  EXPECT_DOUBLE_EQ(ticks.back(), 0.9);
  EXPECT_EQ(tickPositions(-0.25, 0.25, 0.1).size(), 5u);
  EXPECT_TRUE(tickPositions(1.0, 1.0, 0.1).empty());

  int checked = 0;
  for (const WorldBounds& world :
       {WorldBounds{0, 10, 0, 10, false}, WorldBounds{512000, 519999.5, 6.1e6, 6.10001e6, false},
        WorldBounds{-0.0031, 0.0047, -1e-6, 1e-6, false}, WorldBounds{-1e9, 1e9, 3, 4, false},
        WorldBounds{1.5, 1.5000001, 2.25, 2.2500002, false}}) {
    for (const auto& [w, h] :
         {std::pair{500, 500}, std::pair{180, 140}, std::pair{1400, 300}, std::pair{260, 900}}) {
      const MapLayout layout = computeLayout(w, h, world, kText, {});
      if (!layout.drawable) continue;
      const std::vector<PlacedText> labels = axisLabels(layout, kText);
      ASSERT_GE(labels.size(), 4u);
      SCOPED_TRACE(::testing::Message() << w << "x" << h);
      expectInsideAndApart(labels, QRect(0, 0, w, layout.statusTop), 4);
      ++checked;
    }
  }
  EXPECT_GE(checked, 16);
  // A roomy window labels every tick.
  const MapLayout roomy = computeLayout(1400, 1400, {0, 8, 0, 8, false}, kText, {});
  ASSERT_GE(xTicks(roomy).size(), 7u);
  // (but those that would overlap an end label).
  EXPECT_GE(axisLabels(roomy, kText).size(), 4u + xTicks(roomy).size() + yTicks(roomy).size() - 2);
}

TEST(ColorClasses, HalfOpenClassesBetweenMinimumAndMaximumOrEqualCountsByDeciles) {
  const ColorClasses classes(0, 10);
  EXPECT_EQ(classes.classCount(), 10);
  const std::pair<double, int> classOf[] = {{-1, 0}, {0.999, 0}, {1, 1}, {8.5, 8},
                                            {9, 9},  {10, 9},    {11, 9}};
  for (const auto& [value, k] : classOf) EXPECT_EQ(classes.classOf(value), k) << value;
  EXPECT_EQ(classes.lowerBound(3), 3);
  const ColorClasses flat(5, 5);
  EXPECT_EQ(std::tuple(flat.classCount(), flat.classOf(5), flat.classOf(7)), std::tuple(1, 0, 0));
  // The legend names every bound, the maximum included.
  EXPECT_EQ(classes.boundLabels(),
            (std::vector<std::string>{"0.00", "1.00", "2.00", "3.00", "4.00", "5.00", "6.00",
                                      "7.00", "8.00", "9.00", "10.00"}));
  // Narrow classes get the decimals that tell their bounds apart.
  EXPECT_EQ(ColorClasses(0, 0.001).boundLabels()[1], "0.00010");
  EXPECT_EQ(flat.boundLabels(), (std::vector<std::string>{"5.00", "5.00"}));

  // A thousand ordinary values and one extreme: equal intervals put all but one node in the
  // first class; deciles give each class a hundred. NaN and blank nodes (a DEM blank outside its
  // border) are no values: counted, they would take the upper classes and the top label.
  std::vector<double> values;
  for (int i = 0; i < 1000; ++i) values.push_back((i * 7919) % 1000);  // 0..999, shuffled
  values.insert(values.end(), {1e9, std::nan(""), grid::kBlankValue, grid::kBlankValue});
  const ColorClasses deciles = ColorClasses::equalCount(values);
  ASSERT_EQ(deciles.classCount(), 10);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(deciles.lowerBound(k), 100 * k);
  EXPECT_EQ(deciles.maximum(), 1e9);
  EXPECT_EQ(std::tuple(deciles.classOf(150), deciles.classOf(999), deciles.classOf(1e9)),
            std::tuple(1, 9, 9));
  std::array<int, 10> counts{};
  for (const double v : values)
    if (!grid::isBlank(v)) ++counts[static_cast<std::size_t>(deciles.classOf(v))];  // nor NaN
  EXPECT_EQ(counts, (std::array{100, 100, 100, 100, 100, 100, 100, 100, 100, 101}));
  EXPECT_EQ(ColorClasses(0, 1e9).classOf(999), 0);
  EXPECT_EQ(deciles.boundLabels().back(), "1000000000.00");

  // Repeated bounds merge; fewer classes spread their colours over the scale.
  const ColorClasses few =
      ColorClasses::equalCount(std::vector<double>{1, 1, 1, 1, 1, 1, 1, 1, 2, 3});
  ASSERT_EQ(few.classCount(), 3);
  EXPECT_EQ(few.lowerBound(1), 2);
  EXPECT_EQ(std::pair(few.color(0), few.color(2)),
            std::pair(ColorClasses::kColors[0], ColorClasses::kColors[9]));
  EXPECT_EQ(ColorClasses::equalCount(std::vector<double>{4, 4}).classCount(), 1);
}

}  // namespace
}  // namespace vellumar::ui::mapview
