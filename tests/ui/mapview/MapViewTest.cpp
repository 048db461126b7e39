#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTest>
#include <QWheelEvent>

#include <map>
#include <tuple>

#include "MapViewTestSupport.h"
#include "common/CFormat.h"

namespace vellumar::ui::mapview {
namespace {

using engine::Kind;
using engine::Operand;
using namespace testing;

// Sends a mouse event at a point of the view.
void sendMouse(CRVWnd& view, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(at), QPointF(view.mapToGlobal(at)), button, buttons,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&view, &event);
}

TEST(MapView, OpensBesideTheCalculator) {
  // On the right; with no room there on the left; with no room on either side, on the side with
  // more room, inside the screen.
  const std::pair<QRect, QPoint> cases[] = {{QRect(100, 50, 800, 600), QPoint(908, 50)},
                                            {QRect(1200, 50, 700, 600), QPoint(692, 50)},
                                            {QRect(300, 900, 1300, 600), QPoint(1420, 580)}};
  for (const auto& [calculator, at] : cases)
    EXPECT_EQ(CRVWnd::placeBeside(calculator, QSize(500, 500), QRect(0, 0, 1920, 1080)), at);
}

TEST(MapView, GridClassesColourTheRasterAndTheLegendWhoseLabelsNameEveryBound) {
  // A ramp along X from 0 to 10: the left edge is the lowest class, the right the highest.
  CRVWnd view(ramp(0, 10), kMissing, Language::Russian);
  ASSERT_TRUE(view.layout().drawable);
  EXPECT_EQ(pixelsAt(view, {{0.2, 5}, {9.8, 5}, {5.5, 5}}),
            (std::vector{QColor(128, 64, 0), QColor(0, 50, 250), QColor(125, 255, 0)}));
  // Legend boxes: highest class at the top, lowest at the bottom.
  const QImage image = view.picture();
  const std::vector<LegendLayout::Box>& boxes = view.legend().boxes;
  ASSERT_EQ(boxes.size(), 10u);
  const auto middle = [&](const LegendLayout::Box& b) {
    return image.pixelColor(b.x + b.width / 2, b.y + b.height / 2);
  };
  EXPECT_EQ(middle(boxes.back()), QColor(0, 50, 250));
  EXPECT_EQ(middle(boxes.front()), QColor(128, 64, 0));
  EXPECT_LT(boxes.back().y, boxes.front().y);
  // Beyond the grid's extents (the plot fills the window) the raster stays white.
  const MapLayout& layout = view.layout();
  const int outside = layout.row(10) - 3;
  ASSERT_GT(outside, layout.top);
  EXPECT_EQ(image.pixelColor(layout.column(5), outside), QColor(Qt::white));
  // The plot fills the window but for the axes and the legend.
  EXPECT_GE(layout.left + layout.width, boxes.front().x - 40);
  EXPECT_GE(layout.height, 0.8 * 500);
  // Axis labels fit between the plot and the window's edges after any zoom.
  view.pushZoom({5.0001, 5.0001, 5.0002, 5.00013});
  view.picture();
  expectInsideAndApart(view.axisLabels(), QRect(0, 0, 500, view.layout().statusTop), 4);

  // A flat grid has one class, its box at the bottom of the legend.
  CRVWnd flat(gridOperand(2, 2, {4, 4, 4, 4}), kMissing, Language::Russian);
  const QImage flatImage = flat.picture();
  EXPECT_EQ(pixelAt(flat, 5, 5), QColor(128, 64, 0));
  ASSERT_EQ(flat.legend().boxes.size(), 1u);
  const LegendLayout::Box& box = flat.legend().boxes.front();
  EXPECT_EQ(flatImage.pixelColor(box.x + 10, box.y + box.height / 2), QColor(128, 64, 0));
  EXPECT_NEAR(box.y + box.height, flat.layout().top + flat.layout().height, 10);
  EXPECT_EQ(flatImage.pixelColor(box.x + 10, flat.layout().top + 5), QColor(Qt::white));

  // Legend labels name every bound inside the window.
  // Once the minimum's label is the wider, once the maximum's; windows large and small.
  for (const auto& nodes :
       {std::vector<double>{-12345.678, 3, -5, 0}, std::vector<double>{0, 123456.789, 5, 7}}) {
    for (const QSize size : {QSize(500, 500), QSize(260, 220), QSize(900, 400), QSize(300, 900)}) {
      SCOPED_TRACE(cformat("%d x %d", size.width(), size.height()));
      CRVWnd sized(gridOperand(2, 2, nodes), kMissing, Language::Russian);
      sized.resize(size);
      ASSERT_TRUE(sized.layout().drawable);
      sized.picture();
      const std::vector<PlacedText>& labels = sized.legend().labels;
      ASSERT_GE(labels.size(), 2u);
      expectInsideAndApart(labels, QRect(0, 0, size.width(), sized.layout().statusTop));
      // The rectangle is that of the text as the window's font draws it.
      for (const PlacedText& label : labels)
        EXPECT_EQ(label.width,
                  sized.fontMetrics().horizontalAdvance(QString::fromStdString(label.text)));
      const auto [minimum, maximum] = std::minmax_element(nodes.begin(), nodes.end());
      EXPECT_EQ(std::pair(labels.front().text, labels.back().text),
                std::pair(cformat("%.2lf", *minimum), cformat("%.2lf", *maximum)));
      // Boxes tall enough for a line of text label every bound.
      if (sized.layout().height / 10 > sized.fontMetrics().height()) {
        EXPECT_EQ(labels.size(), 11u);
      }
    }
  }
}

TEST(MapView, DataDotsWidenAFlatAxisLinesAreBlueAndPolygonsFilledWithHolesAndIslands) {
  // Data with coordinates can be shown, numbers cannot (data without coordinates are refused in
  // the window's tests).
  const Operand dots = points({1, 2}, {3, 3}, {0, 10});
  EXPECT_TRUE(CRVWnd::canShow(dots));
  EXPECT_FALSE(CRVWnd::canShow(Operand::number(1)));
  CRVWnd view(dots, kMissing, Language::Russian);
  const WorldBounds& world = view.layout().world;
  // One x for all: the axis is widened by 0.1 on each side.
  EXPECT_TRUE(world.xmin <= 2.9 && world.xmax >= 3.1) << world.xmin << " " << world.xmax;
  EXPECT_NEAR(world.xmin + world.xmax, 6.0, 1e-9);
  EXPECT_EQ(pixelAt(view, 3, 5.5), QColor(Qt::white));
  const QImage image = view.picture();
  const int column = view.layout().column(3);
  // Points on the bounds are drawn whole: the dot's fill and both ends of its outline.
  for (const int row : {view.layout().row(0), view.layout().row(10)})
    EXPECT_EQ((std::vector{image.pixelColor(column, row), image.pixelColor(column, row - 5),
                           image.pixelColor(column, row + 5)}),
              (std::vector<QColor>{Qt::black, QColor(255, 0, 0), QColor(255, 0, 0)}));

  // Lines are blue polylines; polygons are filled, with their holes and islands.
  CRVWnd lines(linesOf({{0.0, {{0, 0}, {10, 10}}}}), kMissing, Language::Russian);
  EXPECT_EQ(pixelsAt(lines, {{5, 5}, {2, 8}}), (std::vector{QColor(0, 0, 255), QColor(Qt::white)}));
  CRVWnd polygons(linesOf({{0.0, {{0, 0}, {0, 10}, {10, 10}, {10, 0}}},
                           {0.0, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}},
                           {0.0, {{4, 4}, {4, 6}, {6, 6}, {6, 4}}}},
                          Kind::Polygon),
                  kMissing, Language::Russian);
  // Filled, the hole white, the island filled; outlines keep neighbouring districts apart.
  const QColor fill(250, 150, 100), outline(140, 60, 20);
  EXPECT_EQ(pixelsAt(polygons, {{1, 1}, {3, 3}, {5, 5}, {0, 5}, {8, 5}}),
            (std::vector<QColor>{fill, Qt::white, fill, outline, outline}));
}

// A layer of three square districts side by side with their values (the third holds the
// missing value) and names; the second has a lake.
Operand districtLayer() {
  geometry::Cover cover;
  const auto square = [&](double x, double y, double a, std::int32_t id, double value) {
    geometry::Line ring(std::vector<geometry::Point>{
        {x, y, 0}, {x, y + a, 0}, {x + a, y + a, 0}, {x + a, y, 0}, {x, y, 0}});
    ring.id = id;
    ring.value = value;
    cover.appendLine(std::move(ring));
  };
  square(0, 0, 10, 1, 1.0);
  square(10, 0, 10, 2, 5.0);
  square(12, 2, 2, 2, 5.0);
  square(20, 0, 10, 3, -9999);
  const Operand packed = engine::packCover(cover, Kind::Polygon, true);
  auto table = std::make_shared<data::AttributeTable>();
  table->fields = {{"POP", 'N', 9, 0}, {"NAME", 'C', 20, 0}};
  table->rows = {{"120", "Clervaux"}, {"80", "Wiltz"}, {"", ""}};
  return Operand::lines(Kind::Polygon, packed.sharedPoints(), packed.sharedParts(),
                        packed.sharedIds(), std::move(table));
}

TEST(MapView, ALayerWithValuesIsAChoropleth) {
  CRVWnd view(districtLayer(), kMissing, Language::Russian);
  ASSERT_NE(view.classes(), nullptr);
  EXPECT_EQ(view.legend().boxes.size(), 10u);
  // The lowest value, the highest, the lake, the record without a value, the shared border.
  EXPECT_EQ(pixelsAt(view, {{5, 5}, {17, 7}, {13, 3}, {25, 5}, {10, 5}}),
            (std::vector<QColor>{QColor(128, 64, 0), QColor(0, 50, 250), Qt::white, Qt::white,
                                 QColor(140, 60, 20)}));

  const QRegularExpression form(
      QStringLiteral("^x = \\S+    y = \\S+    объект (\\d+)    z = (.+?)(?:    (.+))?$"));
  const auto readOut = [&](double x, double y) {
    view.readOut(QPoint(view.layout().column(x), view.layout().row(y)));
    const QRegularExpressionMatch match = form.match(view.statusText());
    EXPECT_TRUE(match.hasMatch()) << view.statusText().toStdString();
    return std::vector<std::string>{match.captured(1).toStdString(),
                                    match.captured(2).toStdString(),
                                    match.captured(3).toStdString()};
  };
  const std::vector<std::string> wiltz = readOut(16, 7);
  EXPECT_EQ(std::tuple(wiltz[0], std::stod(wiltz[1]), wiltz[2]), std::tuple("2", 5.0, "Wiltz"));
  EXPECT_EQ(readOut(25, 5), (std::vector<std::string>{"3", "не число", ""}));
  // In the lake, and beyond every record, no record is read out.
  view.readOut(QPoint(view.layout().column(13), view.layout().row(3)));
  EXPECT_TRUE(view.statusText().endsWith("z = ?")) << view.statusText().toStdString();

  // Equal counts divide the two values into two classes.
  view.setClassMode(ClassMode::EqualCount);
  EXPECT_EQ(view.classes()->classCount(), 2);
  EXPECT_EQ(pixelAt(view, 17, 7), QColor(0, 50, 250));

  // A layer of one value keeps its plain fill.
  const Operand layer = districtLayer();
  CRVWnd plain(Operand::lines(Kind::Polygon,
                              std::make_shared<const data::DATA>(layer.points().withValues(
                                  std::vector<double>(layer.points().count(), 7.0))),
                              layer.sharedParts(), layer.sharedIds(), layer.attributes()),
               kMissing, Language::Russian);
  EXPECT_EQ(plain.classes(), nullptr);
  EXPECT_EQ(pixelAt(plain, 5, 5), QColor(250, 150, 100));
}

// The title after the pointer reads out at a pixel position.
std::string titleAt(CRVWnd& view, QPoint p) {
  view.readOut(p);
  return view.windowTitle().toStdString();
}

// The title's text for the world coordinates of a pixel position.
std::string at(const MapLayout& layout, QPoint p, const char* rest) {
  return cformat("Вид | x= %.2lf, y= %.2lf%s", layout.worldX(p.x()), layout.worldY(p.y()), rest);
}

// The numbers of a status line "x = ...    y = ...    z = ...", as the user reads them.
std::vector<std::string> fieldsOf(const QString& status) {
  const QRegularExpression form(QStringLiteral("^x = (\\S+)    y = (\\S+)(?:    z = (.+))?$"));
  const QRegularExpressionMatch match = form.match(status);
  if (!match.hasMatch()) return {};
  return {match.captured(1).toStdString(), match.captured(2).toStdString(),
          match.captured(3).toStdString()};
}

// The significant digits of a number as written, without its exponent.
int significant(const std::string& number) {
  QString digits = QString::fromStdString(number).remove(QRegularExpression("[eE].*|[^0-9]"));
  return static_cast<int>(digits.remove(QRegularExpression("^0+")).size());
}

TEST(MapView, ReadoutsKeepThePrecisionTheDataNeedAndBlankNodesShowTheBackground) {
  // Projected coordinates in metres, a relief in metres with centimetres.
  grid::Grid prototype;
  prototype.left = 512000, prototype.right = 522000, prototype.bottom = 6100000,
  prototype.top = 6110000;
  const auto relief = std::make_shared<const grid::Grid>(
      2, 2, prototype, grid::NodeVector{1234.56, 1300.25, 1250.5, 1290.75});
  CRVWnd view(Operand::grid(relief), kMissing, Language::Russian);
  const MapLayout& layout = view.layout();
  const QPoint inside(layout.column(517123.4), layout.row(6104321.5));
  view.readOut(inside);
  const std::vector<std::string> fields = fieldsOf(view.statusText());
  ASSERT_EQ(fields.size(), 3u) << view.statusText().toStdString();
  EXPECT_NEAR(std::stod(fields[0]), layout.worldX(inside.x()), layout.pixelSize());
  EXPECT_NEAR(std::stod(fields[1]), layout.worldY(inside.y()), layout.pixelSize());
  EXPECT_NEAR(std::stod(fields[2]),
              relief->value(layout.worldX(inside.x()), layout.worldY(inside.y())), 1e-3);
  for (const std::string& field : fields) EXPECT_GE(significant(field), 6) << field;
  // Outside the plot, "?" for the coordinate and the value.
  view.readOut(QPoint(2, inside.y()));
  EXPECT_EQ(fieldsOf(view.statusText())[0], "?");
  EXPECT_EQ(fieldsOf(view.statusText())[2], "?");

  // Blank nodes show the background and read out as blank.
  // A ramp along X (0, 5, 10 on each row) whose upper-right node is blank: the upper-right cell is
  // blank, and the blank takes no part in the classes.
  const double blank = grid::kBlankValue;
  CRVWnd blanked(gridOperand(3, 3, {0, 5, 10, 0, 5, 10, 0, 5, blank}), kMissing, Language::Russian);
  ASSERT_TRUE(blanked.layout().drawable);
  // The blank cell, the top class (as without the blank) and the lowest.
  EXPECT_EQ(pixelsAt(blanked, {{7.5, 7.5}, {9.8, 2.5}, {0.2, 7.5}}),
            (std::vector{QColor(Qt::white), QColor(0, 50, 250), QColor(128, 64, 0)}));
  const MapLayout& blankedLayout = blanked.layout();
  const QPoint hole(blankedLayout.column(7.5), blankedLayout.row(7.5));
  EXPECT_EQ(titleAt(blanked, hole), at(blankedLayout, hole, ", z= пустой узел"));
  // The title reads out the pointer: z of the ramp inside, "?" for what lies outside the plot.
  const QPoint cell(blankedLayout.column(2.5), blankedLayout.row(2.5));
  EXPECT_EQ(titleAt(blanked, cell),
            at(blankedLayout, cell, cformat(", z= %.3lf", blankedLayout.worldX(cell.x())).c_str()));
  EXPECT_EQ(titleAt(blanked, QPoint(2, cell.y())),
            cformat("Вид | x= ?, y= %.2lf, z= ?", blankedLayout.worldY(cell.y())));
  EXPECT_EQ(titleAt(blanked, QPoint(cell.x(), 499)),
            cformat("Вид | x= %.2lf, y= ?, z= ?", blankedLayout.worldX(cell.x())));

  CRVWnd english(gridOperand(3, 3, {0, 5, 10, 0, 5, 10, 0, 5, blank}), kMissing, Language::English);
  english.readOut(hole);
  EXPECT_TRUE(english.windowTitle().endsWith(", z= blank node"));
}

TEST(MapView, PickingDataPointsShowsAndMarksTheirValue) {
  CRVWnd view(points({3, -9999}, {0, 10}, {0, 10}), kMissing, Language::Russian);
  const MapLayout& layout = view.layout();
  const QPoint first(layout.column(0) + 2, layout.row(0) - 3);
  view.pick(first);
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, first, ", z= 3.00"));
  const QPoint middle(layout.column(5), layout.row(5));
  EXPECT_EQ(titleAt(view, middle), at(layout, middle, ", z= 3.000"));
  // A click on the second point picks it and marks it: the marker's ring, nine pixels left of
  // the point, and nothing changed elsewhere.
  const QPoint second(layout.column(10), layout.row(10));
  const QImage before = view.picture();
  QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, second);
  ASSERT_EQ(view.pickedPoint(), std::optional<std::size_t>(1));
  EXPECT_EQ(view.windowTitle().toStdString(), at(layout, second, ", z= не число"));
  const QImage after = view.picture();
  EXPECT_EQ(before.pixelColor(second.x() - 9, second.y()), QColor(Qt::white));
  EXPECT_EQ(after.pixelColor(second.x() - 9, second.y()), QColor(0, 160, 255));
  EXPECT_EQ(after.pixelColor(layout.column(0), layout.row(0)),
            before.pixelColor(layout.column(0), layout.row(0)));
  EXPECT_EQ(titleAt(view, middle), at(layout, middle, ", z= not number"));
  // The status line reads the point under the pointer.
  view.readOut(QPoint(layout.column(0), layout.row(0)));
  EXPECT_EQ(fieldsOf(view.statusText())[2], "3");
  // A click far from every point clears the selection.
  view.pick(QPoint(layout.column(5), layout.row(5)));
  EXPECT_EQ(titleAt(view, middle), at(layout, middle, ""));
  EXPECT_FALSE(view.pickedPoint().has_value());
}

TEST(MapView, MouseZoomsAndPans) {
  CRVWnd view(ramp(0, 10), kMissing, Language::Russian);
  view.picture();
  // Shift and a left drag zoom to the rectangle; Shift and a right click go back.
  const MapLayout full = view.layout();
  const QPoint from(full.column(2), full.row(8)), to(full.column(6), full.row(4));
  QTest::mousePress(&view, Qt::LeftButton, Qt::ShiftModifier, from);
  QTest::mouseMove(&view, to);
  QTest::mouseRelease(&view, Qt::LeftButton, Qt::ShiftModifier, to);
  ASSERT_EQ(view.zoomDepth(), 1);
  EXPECT_NEAR(view.layout().world.ymax - view.layout().world.ymin, 4, 0.1 + 4 * 0.5);
  EXPECT_LE(view.layout().world.xmin, 2 + full.pixelSize());
  QTest::mouseClick(&view, Qt::RightButton, Qt::ShiftModifier, to);
  EXPECT_EQ(view.zoomDepth(), 0);

  // The wheel zooms around the pointer: the world point under it stays under it.
  const QPoint pointer(full.column(7.5), full.row(2.5));
  const double x = full.worldX(pointer.x()), y = full.worldY(pointer.y());
  QWheelEvent wheel(QPointF(pointer), QPointF(view.mapToGlobal(pointer)), QPoint(), QPoint(0, 240),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&view, &wheel);
  const MapLayout zoomed = view.layout();
  EXPECT_NEAR(zoomed.pixelSize(), full.pixelSize() * 0.64, full.pixelSize() * 0.01);
  EXPECT_NEAR(zoomed.worldX(pointer.x()), x, zoomed.pixelSize());
  EXPECT_NEAR(zoomed.worldY(pointer.y()), y, zoomed.pixelSize());

  // A middle-button drag moves the map with the pointer, as does a left drag.
  const QPoint start(200, 200), moved(260, 170);
  const double xBefore = zoomed.worldX(start.x()), yBefore = zoomed.worldY(start.y());
  sendMouse(view, QEvent::MouseButtonPress, start, Qt::MiddleButton, Qt::MiddleButton);
  sendMouse(view, QEvent::MouseMove, moved, Qt::NoButton, Qt::MiddleButton);
  sendMouse(view, QEvent::MouseButtonRelease, moved, Qt::MiddleButton, Qt::NoButton);
  EXPECT_NEAR(view.layout().worldX(moved.x()), xBefore, zoomed.pixelSize());
  EXPECT_NEAR(view.layout().worldY(moved.y()), yBefore, zoomed.pixelSize());
  const double xMoved = view.layout().worldX(moved.x());
  QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, moved);
  sendMouse(view, QEvent::MouseMove, start, Qt::NoButton, Qt::LeftButton);
  QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, start);
  EXPECT_NEAR(view.layout().worldX(start.x()), xMoved, zoomed.pixelSize());
  // Shift and a right click go back to the whole map from any pan or wheel zoom.
  QTest::mouseClick(&view, Qt::RightButton, Qt::ShiftModifier, start);
  EXPECT_EQ(std::pair(view.zoomDepth(), view.layout().world.xmin), std::pair(0, full.world.xmin));
  view.popZoom();  // popping an empty stack changes nothing
  EXPECT_EQ(std::pair(view.zoomDepth(), view.layout().world.xmax), std::pair(0, full.world.xmax));
}

TEST(MapView, EqualCountClassesComeFromTheContextMenu) {
  // A curvature-like map: a gentle ramp and one extreme node.
  std::vector<double> nodes;
  for (int i = 0; i < 400; ++i) nodes.push_back((i % 20) * 0.01);
  nodes[210] = 500;
  CRVWnd view(gridOperand(20, 20, nodes), kMissing, Language::Russian);
  // The share of the plot's pixels in the commonest colour.
  const auto commonest = [&view] {
    const QImage image = view.picture();
    const MapLayout& layout = view.layout();
    std::map<QRgb, int> counts;
    for (int r = layout.row(10) + 1; r < layout.row(0); r += 2)
      for (int c = layout.column(0) + 1; c < layout.column(10); c += 2) ++counts[image.pixel(c, r)];
    int most = 0, total = 0;
    for (const auto& [colour, count] : counts) {
      most = std::max(most, count);
      total += count;
    }
    return static_cast<double>(most) / total;
  };
  EXPECT_GT(commonest(), 0.8);  // equal intervals: nearly one colour
  QMenu* menu = view.contextMenu();
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(std::pair(menu->actions()[0]->text().toStdString(), menu->actions()[0]->isChecked()),
            std::pair(std::string("Равные интервалы"), true));
  menu->actions()[1]->trigger();
  EXPECT_EQ(std::pair(view.classMode(), menu->actions()[1]->isChecked()),
            std::pair(ClassMode::EqualCount, true));
  EXPECT_LT(commonest(), 0.3);
  EXPECT_EQ(std::stod(view.legend().labels.back().text), 500);
  // Other views have no classes to choose.
  CRVWnd dots(points({1}, {0}, {0}), kMissing, Language::Russian);
  EXPECT_FALSE(dots.contextMenu()->actions()[1]->isEnabled());
}

}  // namespace
}  // namespace vellumar::ui::mapview
