#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>

#include "MapViewTestSupport.h"
#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/MapLayout.h"

namespace vellumar::ui::mapview {
namespace {

using testing::expectInsideAndApart;

const TextMetrics kText{10, [](const std::string& s) { return static_cast<int>(s.size()) * 6; }};

TEST(MapLayout, PlotFillsTheClientAreaWithEqualScales) {
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
  EXPECT_DOUBLE_EQ(w.xmin, 0);
  EXPECT_DOUBLE_EQ(w.xmax, 200);
  EXPECT_LT(w.ymin, 0);
  EXPECT_GT(w.ymax, 100);
  EXPECT_NEAR(w.ymin + w.ymax, 100, 1e-9);
  EXPECT_EQ(layout.column(0), layout.left);
  EXPECT_EQ(layout.column(200), layout.left + layout.width);
  EXPECT_NEAR(layout.worldX(layout.column(37.5)), 37.5, layout.pixelSize());
  EXPECT_NEAR(layout.worldY(layout.row(62.5)), 62.5, layout.pixelSize());
  EXPECT_EQ(nearestPixel(2.5), 3);
  EXPECT_EQ(nearestPixel(-2.5), -2);
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
}

}  // namespace
}  // namespace vellumar::ui::mapview
