#pragma once

#include <QImage>
#include <QPoint>
#include <QRubberBand>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Language.h"
#include "engine/Operand.h"
#include "ui/mapview/Choropleth.h"
#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/LineLabels.h"
#include "ui/mapview/MapLayers.h"
#include "ui/mapview/MapLayout.h"
#include "ui/mapview/MapPainter.h"

class QAction;
class QListWidget;
class QListWidgetItem;
class QMenu;

namespace vellumar::grid {
class Grid;
}

namespace vellumar::ui::mapview {

// What the pointer is over in a map view: the world point, whether it lies inside the plot along
// each axis, and the value there when the view has one (a grid's surface, a data point under the
// pointer or the one picked). Each kind of value is one case of the status line's text.
struct PointerReading {
  bool insideX = false;
  bool insideY = false;
  double x = 0.0;
  double y = 0.0;
  bool hasValue = false;  // the view reads out a value at all (grid and data views)
  std::optional<double> value;
  bool missing = false;  // the value is the missing-value marker of data
  bool blank = false;    // the grid is blank (no data) under the pointer
  // The record of a choropleth under the pointer: its number and its first text attribute.
  std::optional<std::int64_t> record;
  std::string label;
};

// The map view: shows one result (a copy taken when the view opens) as a grid raster with its
// legend, data dots, blue lines, or a filled and outlined polygon (a choropleth with a legend when
// its records carry different values), in a frame with labelled axes.
//
// Opened with layers, it draws any number of them over each other, as the layer list beside it
// ("Слои", a tool window) chooses: one check box per layer, top first, dragged to reorder. At most
// one grid is visible, and it is drawn first, under the rest; the others are drawn bottom up.
// Isolines (lines whose values differ) take the colour of their level's class and carry their
// level written along them, no label over another; other lines are blue. Data points coloured by
// value take the colour of their class (the grid's classes when a grid shows), and points holding
// the missing value are left out and counted in the legend. Polygons are outlines, filled on
// demand, translucent over what lies beneath; polygons whose records carry values are a
// choropleth. The legend names the grid's coordinate system and its unit.
// The plot fills the window but for the axes, the legend and a status line, which reads out the
// pointer's coordinates and the value there; the title reads them out as well, in short.
//
// Mouse: drag (left button without Shift, or the middle button) pans; the wheel zooms around the
// pointer; Shift with a left-button drag zooms to the dragged rectangle and Shift with a right
// click goes back one zoom level; Control with a right click saves the picture; a left click on
// a data view picks the nearest data point and marks it. The context menu switches between
// equal-interval and equal-count colour classes (views with a legend), saves the picture
// ("Сохранить изображение…") and chooses the resolution it is saved at. A picture is saved as
// BMP, PNG or SVG by the file's extension, with the legend and without the status line.
//
// The picture of each view and zoom is drawn once and kept: repaints (the pointer moving, the
// status line, a window in front going away) copy it. While the view changes (resizing, panning,
// wheel zoom) the kept picture is shown moved and scaled, and the new one is drawn once the
// changes pause.
class CRVWnd : public QWidget {
  Q_OBJECT

 public:
  // Asks for the path of a picture to save, starting in the given folder; empty when cancelled.
  using PicturePathChooser = std::function<QString(const QString& startFolder)>;

  CRVWnd(engine::Operand shown, double missingValue, Language language, QWidget* parent = nullptr);
  // A view of layers (top first, as registryLayers gives them), with the layer list. The first
  // visible layer is the shown one, whose values the pointer reads out.
  CRVWnd(MapLayers layers, double missingValue, Language language, QWidget* parent = nullptr);

  // The view cannot show numbers, and data without coordinates.
  static bool canShow(const engine::Operand& value);
  // Where a window of the given size goes beside the anchor window (both frames in screen
  // coordinates): to its right when it fits on the screen, else to its left, else on the side
  // with more room, kept on the screen.
  static QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen);

  void setPicturePathChooser(PicturePathChooser chooser) {
    choosePicturePath_ = std::move(chooser);
  }
  // Saves the picture as BMP, PNG or SVG by the path's extension (".bmp" is added to any other)
  // at the chosen resolution, replacing a file there only once the new one is written.
  [[nodiscard]] bool savePicture(QString path);
  // The resolution pictures are saved at: 0 for the view's size, else dots per inch.
  int imageResolution() const { return imageDpi_; }
  void setImageResolution(int dpi);
  // The picture of the client area, as it is painted once every pending change is drawn.
  QImage picture();

  const MapLayout& layout() const { return layout_; }
  // Grid views: the colour classes and the legend; the labels of the axes.
  const ColorClasses* classes() const { return classes_ ? &*classes_ : nullptr; }
  ClassMode classMode() const { return classMode_; }
  void setClassMode(ClassMode mode);
  const LegendLayout& legend() const { return legend_; }
  const std::vector<PlacedText>& axisLabels() const { return labels_; }
  QString statusText() const { return statusText_; }
  // The index of the picked data point.
  std::optional<std::size_t> pickedPoint() const { return picked_; }
  // The colour-class choices, enabled on views with a legend.
  QMenu* contextMenu();
  // The menu a right click opens: the colour-class choices, "Сохранить изображение…", the
  // resolution of saved pictures and, on a view of layers, "Слои", which shows the layer list.
  QMenu* viewMenu();

  // The layers, top first, and the list beside the view that shows them (null on a view of one
  // operand).
  const MapLayers& layers() const { return layers_; }
  QListWidget* layerList() const { return layerList_; }
  // Shows or hides the layer of that id, as its check box does.
  void setLayerVisible(int id, bool visible);
  // Switches a polygon layer's fill and a data layer's colouring by value.
  void setLayerFilled(int id, bool filled);
  void setLayerByValue(int id, bool byValue);
  // The isoline labels of the current picture.
  const std::vector<LineLabel>& lineLabels() const { return lineLabels_; }

  int zoomDepth() const { return static_cast<int>(zoomStack_.size()); }
  void pushZoom(const ZoomRect& zoom);
  void popZoom();
  // Moves the shown world with the pointer by a pixel offset, as a drag does.
  void pan(QPoint offset);
  // Zooms by factor (below 1 zooms in) keeping the world point under position in place.
  void zoomAt(QPoint position, double factor);
  // Updates the title and the status line for the pointer at a client position.
  void readOut(QPoint position);
  // Picks the data point under a client position, as a left click does.
  void pick(QPoint position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  CRVWnd(MapLayers layers, double missingValue, Language language, QWidget* parent, bool withList);
  // Colour classes of equal intervals over the values of a grid or a choropleth.
  void classifyValues(double minimum, double maximum);
  // The classes and the legend's notes for the visible layers.
  void classifyLayers();
  // After a layer's visibility, order or style changed: new classes, bounds and picture.
  void layersChanged();
  void buildLayerList();
  void readLayerList();
  void showLayerMenu(const QPoint& position);
  MapLayer* layerById(int id);
  const grid::Grid* shownGrid() const;
  const Choropleth* shownChoropleth() const;
  // The picture as saved: the map, legend and axes without the status line, rasters at scale.
  void drawPicture(QPainter& painter, double scale) const;
  WorldBounds currentBounds() const;
  TextMetrics metrics() const;
  // A new layout for the current size and bounds; the kept picture is drawn again soon (now,
  // when there is none to show meanwhile).
  void relayout();
  // Replaces the top zoom level by the given bounds (pushing one when there is none).
  void setTopBounds(const WorldBounds& bounds);
  // Shows bounds as the top zoom level, shifted so that the world point (x, y) lies under the
  // client position.
  void showUnder(QPoint position, double x, double y, WorldBounds bounds);
  // Lays out again when the size changed since the last layout.
  void syncLayout();
  void renderPicture();
  void paintMap(QPainter& painter, double rasterScale = 1.0,
                std::vector<LineLabel>* labels = nullptr) const;
  void paintPreview(QPainter& painter) const;
  PointerReading readingAt(QPoint position) const;
  QString statusLine(const PointerReading& reading) const;
  QString coordinateTitle(const PointerReading& reading) const;
  std::optional<std::size_t> pointNear(QPoint position) const;
  void saveWithDialog();

  engine::Operand shown_;
  MapLayers layers_;
  std::vector<std::string> legendNotes_;
  std::vector<double> classValues_;  // the data values the classes divide, when data give them
  std::vector<LineLabel> lineLabels_;
  int imageDpi_ = 0;
  double missingValue_;
  Language language_;
  WorldBounds fullBounds_;
  std::vector<ZoomRect> zoomStack_;
  MapLayout layout_;
  std::vector<PlacedText> labels_;
  LegendLayout legend_;
  int shownId_ = -1;  // the layer the view was opened on, whose records the pointer reads out
  double valueMinimum_ = 0.0;  // the range of the values the colour classes divide
  double valueMaximum_ = 0.0;
  ClassMode classMode_ = ClassMode::EqualIntervals;
  std::optional<ColorClasses> classes_;
  double valueMagnitude_ = 0.0;  // the largest absolute value shown, for the read-out precision
  double valueRange_ = 0.0;
  std::optional<double> selectedValue_;
  std::optional<std::size_t> picked_;
  QString statusText_;

  QImage picture_;  // the kept picture, drawn with pictureLayout_
  MapLayout pictureLayout_;
  bool pictureCurrent_ = false;
  QTimer renderTimer_;

  QRubberBand* rubberBand_ = nullptr;
  QPoint dragStart_;
  bool dragging_ = false;
  QPoint pressPosition_;
  bool leftDown_ = false;
  bool panning_ = false;
  QPoint panOffset_;
  QMenu* menu_ = nullptr;
  QAction* equalIntervals_ = nullptr;
  QAction* equalCount_ = nullptr;
  QMenu* viewMenu_ = nullptr;
  QWidget* layerPanel_ = nullptr;
  QListWidget* layerList_ = nullptr;
  PicturePathChooser choosePicturePath_;
};

}  // namespace vellumar::ui::mapview
