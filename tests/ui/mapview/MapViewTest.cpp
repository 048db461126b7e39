#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "common/CFormat.h"
#include "engine/LinePacking.h"
#include "grid/Grid.h"
#include "ui/mapview/CRVWnd.h"

namespace vellumar::ui {
namespace {

using engine::Kind;
using engine::Operand;

Operand gridOperand(int nx, int ny, std::vector<double> nodes) {
  grid::Grid prototype;
  prototype.left = 0, prototype.right = 10, prototype.bottom = 0, prototype.top = 10;
  grid::NodeVector values(nodes.begin(), nodes.end());
  return Operand::grid(std::make_shared<const grid::Grid>(nx, ny, prototype, std::move(values)));
}

Operand dataOperand(std::vector<double> z, std::vector<double> x, std::vector<double> y) {
  return Operand::data(
      std::make_shared<const data::DATA>(std::move(z), std::move(x), std::move(y)));
}

geometry::Line ring(std::initializer_list<std::pair<double, double>> corners) {
  std::vector<geometry::Point> points;
  for (const auto& [x, y] : corners) points.push_back({x, y, 0});
  points.push_back(points.front());
  return geometry::Line(std::move(points));
}

QColor pixelAt(CRVWnd& view, double x, double y) {
  const QImage image = view.picture();
  return image.pixelColor(view.layout().column(x), view.layout().row(y));
}

TEST(MapView, OpensOnlyWhatItCanShow) {
  EXPECT_FALSE(CRVWnd::canShow(Operand::number(1)));
  EXPECT_FALSE(
      CRVWnd::canShow(Operand::data(std::make_shared<const data::DATA>(std::vector<double>{1}))));
  EXPECT_TRUE(CRVWnd::canShow(dataOperand({1}, {0}, {0})));
  CRVWnd view(gridOperand(2, 2, {0, 1, 2, 3}), -9999, Language::Russian);
  EXPECT_EQ(view.size(), QSize(500, 500));
  EXPECT_EQ(view.pos(), QPoint(0, 0));
  EXPECT_EQ(view.windowTitle(), "Вид");
}

TEST(MapView, GridClassesColourTheRasterAndTheLegend) {
  // A ramp along X from 0 to 10: the left edge is the lowest class, the right the highest.
  CRVWnd view(gridOperand(2, 2, {0, 10, 0, 10}), -9999, Language::Russian);
  ASSERT_TRUE(view.layout().drawable);
  EXPECT_EQ(pixelAt(view, 0.2, 5), QColor(128, 64, 0));
  EXPECT_EQ(pixelAt(view, 9.8, 5), QColor(0, 50, 250));
  EXPECT_EQ(pixelAt(view, 5.5, 5), QColor(125, 255, 0));
  // Legend boxes: highest class at the top, lowest at the bottom.
  const QImage image = view.picture();
  const MapLayout& layout = view.layout();
  const int boxX = layout.left + layout.width + 40;
  const int box = layout.height / 10;
  EXPECT_EQ(image.pixelColor(boxX, layout.top + box / 2), QColor(0, 50, 250));
  EXPECT_EQ(image.pixelColor(boxX, layout.top + 9 * box + box / 2), QColor(128, 64, 0));
}

TEST(MapView, AFlatGridHasOneClass) {
  CRVWnd view(gridOperand(2, 2, {4, 4, 4, 4}), -9999, Language::Russian);
  const QImage image = view.picture();
  const MapLayout& layout = view.layout();
  const int boxX = layout.left + layout.width + 40;
  const int box = layout.height / 10;
  EXPECT_EQ(pixelAt(view, 5, 5), QColor(128, 64, 0));
  EXPECT_EQ(image.pixelColor(boxX, layout.top + 9 * box + box / 2), QColor(128, 64, 0));
  EXPECT_EQ(image.pixelColor(boxX, layout.top + box / 2), QColor(Qt::white));
}

TEST(MapView, DataDotsAndAWidenedAxis) {
  CRVWnd view(dataOperand({1, 2}, {3, 3}, {0, 10}), -9999, Language::Russian);
  EXPECT_DOUBLE_EQ(view.layout().world.xmin, 2.9);
  EXPECT_DOUBLE_EQ(view.layout().world.xmax, 3.1);
  EXPECT_EQ(pixelAt(view, 3, 5.5), QColor(Qt::white));
  const QImage image = view.picture();
  const int column = view.layout().column(3);
  const int row = view.layout().row(0);
  EXPECT_EQ(image.pixelColor(column, row - 2), QColor(Qt::black));  // the dot's fill
}

TEST(MapView, LinesAreBluePolylines) {
  geometry::Cover cover;
  geometry::Line line({{0, 0, 0}, {10, 10, 0}});
  cover.appendLine(line);
  CRVWnd view(engine::packCover(cover, Kind::Lines), -9999, Language::Russian);
  EXPECT_EQ(pixelAt(view, 5, 5), QColor(0, 0, 255));
  EXPECT_EQ(pixelAt(view, 2, 8), QColor(Qt::white));
}

TEST(MapView, PolygonsAreFilledWithHolesAndIslands) {
  geometry::Cover cover;
  cover.appendLine(ring({{0, 0}, {0, 10}, {10, 10}, {10, 0}}));
  cover.appendLine(ring({{2, 2}, {8, 2}, {8, 8}, {2, 8}}));
  cover.appendLine(ring({{4, 4}, {4, 6}, {6, 6}, {6, 4}}));
  CRVWnd view(engine::packCover(cover, Kind::Polygon), -9999, Language::Russian);
  EXPECT_EQ(pixelAt(view, 1, 1), QColor(250, 150, 100));
  EXPECT_EQ(pixelAt(view, 3, 3), QColor(Qt::white));
  EXPECT_EQ(pixelAt(view, 5, 5), QColor(250, 150, 100));
}

// The title's text for the world coordinates of a pixel position.
std::string at(const MapLayout& layout, QPoint p, const char* rest) {
  return cformat("Вид | x= %.2lf, y= %.2lf%s", layout.worldX(p.x()), layout.worldY(p.y()), rest);
}

TEST(MapView, TitleReadsOutThePointer) {
  CRVWnd view(gridOperand(2, 2, {0, 10, 0, 10}), -9999, Language::Russian);
  const MapLayout& layout = view.layout();
  const QPoint inside(layout.column(5), layout.row(2.5));
  view.readOut(inside);
  const double z = 10 * layout.worldX(inside.x()) / 10;
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, inside, cformat(", z= %.3lf", z).c_str()));
  view.readOut(QPoint(2, inside.y()));
  EXPECT_EQ(view.windowTitle().toStdString(),
            cformat("Вид | x= ?, y= %.2lf, z= ?", layout.worldY(inside.y())));
  view.readOut(QPoint(inside.x(), 499));
  EXPECT_EQ(view.windowTitle().toStdString(),
            cformat("Вид | x= %.2lf, y= ?, z= ?", layout.worldX(inside.x())));
}

TEST(MapView, BlankNodesShowTheBackgroundAndReadOutAsBlank) {
  // A ramp along X (0, 5, 10 on each row) whose upper-right node is blank: the upper-right cell is
  // blank, and the blank takes no part in the classes.
  const double blank = grid::kBlankValue;
  CRVWnd view(gridOperand(3, 3, {0, 5, 10, 0, 5, 10, 0, 5, blank}), -9999, Language::Russian);
  ASSERT_TRUE(view.layout().drawable);
  EXPECT_EQ(pixelAt(view, 7.5, 7.5), QColor(Qt::white));
  EXPECT_EQ(pixelAt(view, 9.8, 2.5), QColor(0, 50, 250));  // the top class, as without the blank
  EXPECT_EQ(pixelAt(view, 0.2, 7.5), QColor(128, 64, 0));
  const MapLayout& layout = view.layout();
  const QPoint hole(layout.column(7.5), layout.row(7.5));
  view.readOut(hole);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, hole, ", z= пусто"));
  const QPoint ramp(layout.column(2.5), layout.row(2.5));
  view.readOut(ramp);
  EXPECT_EQ(view.windowTitle().toStdString(),
            at(layout, ramp, cformat(", z= %.3lf", layout.worldX(ramp.x())).c_str()));

  CRVWnd english(gridOperand(3, 3, {0, 5, 10, 0, 5, 10, 0, 5, blank}), -9999, Language::English);
  english.readOut(hole);
  EXPECT_TRUE(english.windowTitle().endsWith(", z= blank"));
}

TEST(MapView, PickingDataPointsShowsTheirValue) {
  CRVWnd view(dataOperand({3, -9999}, {0, 10}, {0, 10}), -9999, Language::Russian);
  const MapLayout& layout = view.layout();
  const QPoint first(layout.column(0) + 2, layout.row(0) - 3);
  view.pick(first);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, first, ", z= 3.00"));
  const QPoint middle(layout.column(5), layout.row(5));
  view.readOut(middle);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, middle, ", z= 3.000"));
  const QPoint second(layout.column(10), layout.row(10));
  view.pick(second);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, second, ", z= не число"));
  view.readOut(middle);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, middle, ", z= not number"));
  // A click far from every point clears the selection.
  view.pick(QPoint(layout.column(5), layout.row(5)));
  view.readOut(middle);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, middle, ""));
}

TEST(MapView, ZoomPushesAndPopsInEitherDragDirection) {
  CRVWnd view(gridOperand(2, 2, {0, 10, 0, 10}), -9999, Language::Russian);
  view.pushZoom({2, 2, 4, 6});
  const WorldBounds forward = view.layout().world;
  view.popZoom();
  EXPECT_EQ(view.zoomDepth(), 0);
  EXPECT_EQ(view.layout().world.xmax, 10);
  view.pushZoom({4, 6, 2, 2});
  EXPECT_EQ(view.layout().world.xmin, forward.xmin);
  EXPECT_EQ(view.layout().world.ymax, forward.ymax);
  EXPECT_EQ(view.layout().world.ymax, 6);
  view.popZoom();
  view.popZoom();  // popping an empty stack changes nothing
  EXPECT_EQ(view.zoomDepth(), 0);
}

TEST(MapView, SavesThePictureAsBmp) {
  QTemporaryDir folder;
  CRVWnd view(gridOperand(2, 2, {0, 10, 0, 10}), -9999, Language::Russian);
  ASSERT_TRUE(view.savePicture(folder.filePath("map")));
  QFile file(folder.filePath("map.bmp"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(2), QByteArray("BM"));
  const QImage saved(folder.filePath("map.bmp"));
  EXPECT_EQ(saved.size(), QSize(500, 500));
  EXPECT_EQ(saved.pixelColor(view.layout().column(0.2), view.layout().row(5)), QColor(128, 64, 0));
  ASSERT_TRUE(view.savePicture(folder.filePath("again.BMP")));
  EXPECT_TRUE(QFile::exists(folder.filePath("again.BMP")));
}

}  // namespace
}  // namespace vellumar::ui
