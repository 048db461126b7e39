// Layers of the map view: the layer list, isolines with labels, data coloured by value, the
// legend's notes and the pictures it saves.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <map>

#include "MapViewTestSupport.h"
#include "engine/Registry.h"

namespace vellumar::ui::mapview {
namespace {

using engine::Kind;
using engine::Operand;
using namespace testing;

Operand square(double from, double to) {
  return linesOf({{0.0, {{from, from}, {from, to}, {to, to}, {to, from}}}}, Kind::Polygon);
}

// The names of the layers in order, each with whether it is shown.
std::vector<std::pair<std::string, bool>> shown(const MapLayers& layers) {
  std::vector<std::pair<std::string, bool>> entries;
  for (const MapLayer& layer : layers) entries.emplace_back(layer.name, layer.visible);
  return entries;
}

MapLayer layer(int id, const char* name, Operand value, bool visible) {
  return makeLayer(id, name, std::move(value), visible, kMissing);
}

TEST(MapLayers, TheRegistryGivesTheLayersAndTheShownOneIsChecked) {
  engine::Registry registry;
  registry.findOrCreate("G1").value = ramp(0, 10);
  registry.findOrCreate("N").value = Operand::number(3);
  registry.findOrCreate("column").value =
      Operand::data(std::make_shared<const data::DATA>(std::vector<double>{1, 2}));
  registry.findOrCreate("P1").value = square(2, 8);
  // The current result has no name: it comes first, as "результат".
  MapLayers layers = registryLayers(registry, square(1, 2), {}, kMissing, Language::Russian);
  using Shown = std::vector<std::pair<std::string, bool>>;
  ASSERT_EQ(shown(layers), (Shown{{"результат", true}, {"G1", false}, {"P1", false}}));
  EXPECT_FALSE(layers[2].filled);  // polygons not shown are outlines
  // A named operand is its own entry, checked.
  layers = registryLayers(registry, registry.find("P1")->value, "P1", kMissing, Language::English);
  ASSERT_EQ(shown(layers), (Shown{{"G1", false}, {"P1", true}}));
  EXPECT_TRUE(layers[1].filled);
  // A second grid shown hides the first.
  layers.push_back(layer(7, "G2", ramp(5, 6), false));
  setLayerVisible(layers, 0, true);
  setLayerVisible(layers, 2, true);
  EXPECT_EQ(visibleGrid(layers), std::optional<std::size_t>(2));
  EXPECT_EQ(shown(layers), (Shown{{"G1", false}, {"P1", true}, {"G2", true}}));
}

TEST(MapLayers, TheListChoosesWhatIsDrawnAndReorderingItReordersTheDrawing) {
  const Operand districts =
      linesOf({{1.0, {{0, 0}, {0, 1}, {1, 1}}}, {5.0, {{2, 2}, {2, 3}, {3, 3}}}}, Kind::Polygon);
  CRVWnd view(
      MapLayers{layer(0, "outline", square(2.5, 8.5), false), layer(1, "relief", ramp(0, 10), true),
                layer(2, "other relief", ramp(10, 20), false),
                layer(3, "districts", districts, false)},
      kMissing, Language::Russian);
  QListWidget* list = view.layerList();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(std::pair(list->item(0)->text(), list->item(1)->checkState()),
            std::pair(QString("outline"), Qt::Checked));
  // The class of 5.5 on the ramp, and that of 2.5 where no outline lies yet.
  const QColor ramp55(125, 255, 0);
  EXPECT_EQ(pixelsAt(view, {{5.5, 5}, {2.5, 5}}),
            (std::vector{ramp55, QColor(ColorClasses::kColors[2])}));

  // Checking the outline draws it over the grid, inside unfilled.
  list->item(0)->setCheckState(Qt::Checked);
  EXPECT_EQ(pixelsAt(view, {{2.5, 5}, {5.5, 5}}), (std::vector{QColor(140, 60, 20), ramp55}));
  // Filled, it lets the grid show through.
  view.setLayerFilled(0, true);
  EXPECT_PRED2(
      near, pixelAt(view, 5.5, 5),
      QColor(125 + (250 - 125) * 110 / 255, 255 + (150 - 255) * 110 / 255, 100 * 110 / 255));

  // Checking the other grid hides the first: one raster, in its own classes.
  list->item(2)->setCheckState(Qt::Checked);
  EXPECT_EQ(list->item(1)->checkState(), Qt::Unchecked);
  ASSERT_NE(view.classes(), nullptr);
  EXPECT_EQ(view.classes()->lowerBound(0), 10.0);
  // No grid: the outline alone, filled in full as nothing lies beneath.
  list->item(2)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(view.classes(), nullptr);
  EXPECT_EQ(pixelAt(view, 5.5, 5), QColor(250, 150, 100));
  // Districts with values are a choropleth with its own classes once shown.
  list->item(3)->setCheckState(Qt::Checked);
  ASSERT_NE(view.classes(), nullptr);
  EXPECT_EQ(std::pair(view.classes()->lowerBound(0), view.classes()->maximum()),
            std::pair(1.0, 5.0));
  // The list closed, the view's menu brings it back.
  list->window()->close();
  EXPECT_EQ(view.viewMenu()->actions().back()->text(), "Слои");
  view.viewMenu()->actions().back()->trigger();
  EXPECT_TRUE(list->window()->isVisible());

  // Reordering the list reorders the drawing.
  MapLayers layers = {layer(0, "dots", points({1}, {5}, {5}), true),
                      layer(1, "field", square(0, 10), true)};
  layers.back().filled = true;
  CRVWnd reordered(std::move(layers), kMissing, Language::Russian);
  EXPECT_EQ(pixelAt(reordered, 5, 5), QColor(Qt::black));  // the dot over the field
  QListWidget* order = reordered.layerList();
  ASSERT_TRUE(order->model()->moveRow(QModelIndex(), 1, QModelIndex(), 0));
  ASSERT_EQ(reordered.layers().front().name, "field");
  // The field over the dot: its translucent fill over black.
  EXPECT_PRED2(near, pixelAt(reordered, 5, 5),
               QColor(250 * 110 / 255, 150 * 110 / 255, 100 * 110 / 255));
  // Where no dot lies, the same fill over white.
  EXPECT_PRED2(near, pixelAt(reordered, 2, 2), QColor(253, 210, 188));
  // A drop that copies the dots to the top and then removes the original: back as at first.
  order->insertItem(0, order->item(1)->clone());
  delete order->takeItem(2);
  ASSERT_EQ(reordered.layers().front().name, "dots");
  EXPECT_EQ(pixelsAt(reordered, {{5, 5}, {2, 2}}),
            (std::vector{QColor(Qt::black), QColor(250, 150, 100)}));
}

TEST(MapLayers, IsolinesAndDataPointsTakeTheColoursOfTheirClasses) {
  // Horizontal isolines across the map; two of them a hair apart, where labels would collide.
  std::vector<std::pair<double, std::vector<std::pair<double, double>>>> isolines;
  for (const double level : {10.0, 20.0, 40.0, 50.0, 60.0})
    isolines.push_back({level, {{0, level / 7}, {10, level / 7}}});
  isolines.push_back({35.0, {{0, 40 / 7.0 + 0.04}, {10, 40 / 7.0 + 0.04}}});
  CRVWnd view(MapLayers{layer(0, "isolines", linesOf(isolines), true)}, kMissing,
              Language::Russian);
  view.resize(700, 500);
  const QImage image = view.picture();
  const std::vector<LineLabel>& labels = view.lineLabels();
  const QRectF plot(view.layout().left, view.layout().top, view.layout().width,
                    view.layout().height);
  std::map<std::string, int> perLevel;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    ++perLevel[labels[i].text];
    EXPECT_TRUE(plot.contains(labels[i].box));
    for (std::size_t j = i + 1; j < labels.size(); ++j)
      EXPECT_FALSE(labels[i].box.intersects(labels[j].box))
          << labels[i].text << " and " << labels[j].text;
  }
  for (const char* level : {"10", "20", "40", "50", "60"}) EXPECT_GE(perLevel[level], 1) << level;
  EXPECT_LT(perLevel["35"], perLevel["40"]);  // the crowded line loses labels to its neighbour
  // A label is drawn where it is placed: dark text on its white halo across the line.
  EXPECT_GT(darkPixels(image, labels.front().box.toAlignedRect()), 5);
  // Each line in its level's class colour, darkened: the lowest level brown, the highest blue.
  const int clear = view.layout().column(9.5);  // right of every label on these short lines
  const auto lineColour = [&](double level) {
    return image.pixelColor(clear, view.layout().row(level / 7));
  };
  EXPECT_EQ(lineColour(10).rgb(), QColor(ColorClasses::kColors[0]).darker(150).rgb());
  EXPECT_EQ(lineColour(60).rgb(), QColor(ColorClasses::kColors[9]).darker(150).rgb());

  // Data points take the colour of their class.
  MapLayers layers = {layer(0, "wells", points({0, 10, kMissing}, {1, 9, 5}, {1, 9, 5}), true)};
  layers.back().byValue = true;
  CRVWnd wells(layers, kMissing, Language::Russian);
  // Their own classes from 0 to 10; the missing value is not drawn, and the legend counts it.
  EXPECT_EQ(pixelsAt(wells, {{1, 1}, {9, 9}, {5, 5}}),
            (std::vector{QColor(ColorClasses::kColors[0]), QColor(ColorClasses::kColors[9]),
                         QColor(Qt::white)}));
  ASSERT_EQ(wells.legend().notes.size(), 1u);
  EXPECT_EQ(wells.legend().notes[0].text, "нет значения: 1");
  // Over a grid from 0 to 100 they take its classes: 10 is in the second.
  layers.push_back(layer(1, "relief", ramp(0, 100), true));
  CRVWnd overGrid(std::move(layers), kMissing, Language::English);
  EXPECT_EQ(pixelsAt(overGrid, {{9, 9}, {1, 1}}),
            (std::vector{QColor(ColorClasses::kColors[1]), QColor(ColorClasses::kColors[0])}));
  EXPECT_EQ(overGrid.legend().notes.back().text, "no value: 1");
  // Plain dots again when the layer is no longer coloured by value, and nothing to count.
  overGrid.setLayerByValue(0, false);
  EXPECT_EQ(pixelAt(overGrid, 9, 9), QColor(Qt::black));
  EXPECT_TRUE(overGrid.legend().notes.empty());
}

TEST(MapLayers, TheLegendNamesTheCoordinateSystemAndItsUnit) {
  const std::string utm =
      "PROJCS[\"WGS 84 / UTM zone 32N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\"],"
      "UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
      "UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]],AUTHORITY[\"EPSG\",\"32632\"]]";
  EXPECT_EQ(coordinateUnit(utm), "metre");
  EXPECT_EQ(coordinateUnit("GEOGCRS[\"WGS 84\",CS[ellipsoidal,2],AXIS[\"lat\",north,"
                           "ANGLEUNIT[\"degree\",0.0174532925199433]]]"),
            "degree");
  EXPECT_EQ(coordinateUnit(""), "");

  CRVWnd view(ramp(0, 10, {utm, "EPSG:32632", std::nullopt}), kMissing, Language::Russian);
  const LegendLayout& legend = view.legend();
  std::vector<std::string> notes;
  for (const PlacedText& note : legend.notes) notes.push_back(note.text);
  EXPECT_EQ(notes, (std::vector<std::string>{"СК: EPSG:32632", "единицы: metre"}));
  // Below the boxes, inside the window, and written there.
  const QImage image = view.picture();
  const LegendLayout::Box& lowest = legend.boxes.front();
  for (const PlacedText& note : legend.notes) {
    EXPECT_GE(note.y, lowest.y + lowest.height);
    EXPECT_TRUE(QRect(0, 0, view.width(), view.layout().statusTop)
                    .contains(QRect(note.x, note.y, note.width, note.height)));
    EXPECT_GT(darkPixels(image, QRect(note.x, note.y, note.width, note.height)), 10) << note.text;
  }
  // The status line names the system after a reading.
  view.readOut(QPoint(view.layout().column(5), view.layout().row(5)));
  EXPECT_TRUE(view.statusText().endsWith("    EPSG:32632")) << view.statusText().toStdString();
  // A grid without a system has no notes.
  CRVWnd plain(ramp(0, 10), kMissing, Language::Russian);
  EXPECT_TRUE(plain.legend().notes.empty());
}

TEST(MapLayers, SavesPngAndSvgAtTheViewsSizeOrTheResolutionChosenInTheMenu) {
  QTemporaryDir folder;
  CRVWnd view(ramp(0, 10), kMissing, Language::Russian);
  const MapLayout& layout = view.layout();
  ASSERT_TRUE(view.savePicture(folder.filePath("map.png")));
  EXPECT_EQ(QImageReader::imageFormat(folder.filePath("map.png")), "png");
  QImage saved(folder.filePath("map.png"));
  EXPECT_EQ(saved.size(), QSize(500, 500));
  EXPECT_EQ(saved.pixelColor(layout.column(0.2), layout.row(5)), QColor(128, 64, 0));
  const LegendLayout::Box& top = view.legend().boxes.back();
  EXPECT_EQ(saved.pixelColor(top.x + top.width / 2, top.y + top.height / 2), QColor(0, 50, 250));

  // At 300 dpi, chosen in the view's menu: 300/96 pixels a view pixel, over the old file.
  QAction* save = nullptr;
  QMenu* resolution = nullptr;
  for (QAction* action : view.viewMenu()->actions()) {
    if (action->text() == "Сохранить изображение…") save = action;
    if (action->menu() != nullptr) resolution = action->menu();
  }
  ASSERT_TRUE(save != nullptr && resolution != nullptr);
  EXPECT_EQ(resolution->title(), "Разрешение изображения");
  ASSERT_EQ(resolution->actions().size(), 4);
  EXPECT_EQ(resolution->actions()[0]->text(), "Размер окна");
  resolution->actions()[2]->trigger();
  EXPECT_EQ(view.imageResolution(), 300);
  ASSERT_TRUE(view.savePicture(folder.filePath("map.png")));
  saved = QImage(folder.filePath("map.png"));
  EXPECT_EQ(saved.size(), QSize(1563, 1563));
  EXPECT_NEAR(saved.dotsPerMeterX(), 300 / 0.0254, 1);
  const double scale = 300.0 / 96;
  EXPECT_EQ(saved.pixelColor(static_cast<int>(layout.column(9.8) * scale),
                             static_cast<int>(layout.row(5) * scale)),
            QColor(0, 50, 250));

  // SVG: the view's size as its view box, the physical size from the resolution.
  ASSERT_TRUE(view.savePicture(folder.filePath("map.svg")));
  QFile svg(folder.filePath("map.svg"));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&svg);
  ASSERT_TRUE(xml.readNextStartElement());
  EXPECT_EQ(xml.name(), QStringLiteral("svg"));
  EXPECT_EQ(xml.attributes().value("viewBox").toString(), "0 0 500 500");
  const QString width = xml.attributes().value("width").toString();
  ASSERT_TRUE(width.endsWith("mm")) << width.toStdString();
  EXPECT_NEAR(width.chopped(2).toDouble(), 500 * 25.4 / 300, 0.01);
  while (!xml.atEnd()) xml.readNext();
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();

  // A failed save leaves what is there: a folder named like the picture stays a folder.
  ASSERT_TRUE(QDir(folder.path()).mkdir("taken.png"));
  EXPECT_FALSE(view.savePicture(folder.filePath("taken.png")));
  EXPECT_TRUE(QFileInfo(folder.filePath("taken.png")).isDir());
  // Another extension, or none, is saved as BMP, as it always was; so is .BMP in capitals.
  const std::pair<const char*, const char*> bmps[] = {
      {"map.jpg", "map.jpg.bmp"}, {"map", "map.bmp"}, {"again.BMP", "again.BMP"}};
  for (const auto& [name, written] : bmps) {
    ASSERT_TRUE(view.savePicture(folder.filePath(name)));
    EXPECT_EQ(QImageReader::imageFormat(folder.filePath(written)), "bmp") << written;
    EXPECT_EQ(QImage(folder.filePath(written)).size(), QSize(1563, 1563));  // still at 300 dpi
  }
  // The menu's save writes the file its chooser names.
  view.setPicturePathChooser([&](const QString&) { return folder.filePath("dots.svg"); });
  save->trigger();
  EXPECT_TRUE(QFile::exists(folder.filePath("dots.svg")));
}

}  // namespace
}  // namespace vellumar::ui::mapview
