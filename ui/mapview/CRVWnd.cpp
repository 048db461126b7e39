#include "ui/mapview/CRVWnd.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFontInfo>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"
#include "grid/Grid.h"
#include "grid/GridArithmetic.h"
#include "ui/mapview/ImageExport.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui::mapview {
namespace {

constexpr int kPickDistance = 3;
constexpr int kPanThreshold = 3;     // pixels a left drag moves before it pans
constexpr int kPointPadding = 8;     // dots on the bounds are drawn whole
constexpr int kRenderDelayMs = 150;  // a new picture once the view has stopped changing
constexpr double kWheelZoomStep = 0.8;
constexpr int kResolutions[] = {150, 300, 600};  // dots per inch offered for saved pictures

WorldBounds boundsOfPoints(const data::DATA& points) {
  WorldBounds bounds;
  if (points.empty() || !points.hasCoordinates()) return bounds;
  const auto [xmin, xmax] = std::minmax_element(points.x().begin(), points.x().end());
  const auto [ymin, ymax] = std::minmax_element(points.y().begin(), points.y().end());
  bounds = {*xmin, *xmax, *ymin, *ymax, false};
  bounds.widenDegenerateAxes();
  return bounds;
}

WorldBounds boundsOf(const engine::Operand& value) {
  if (value.kind() != engine::Kind::Grid) return boundsOfPoints(value.points());
  const grid::Grid& grid = *value.gridValue();
  WorldBounds bounds{grid.left, grid.right, grid.bottom, grid.top, !grid.hasNodes()};
  bounds.widenDegenerateAxes();
  return bounds;
}

QString fromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

WorldBounds unite(const WorldBounds& a, const WorldBounds& b) {
  if (a.empty) return b;
  if (b.empty) return a;
  return {std::min(a.xmin, b.xmin), std::max(a.xmax, b.xmax), std::min(a.ymin, b.ymin),
          std::max(a.ymax, b.ymax), false};
}

// What the visible layers cover; the first layer's extent when none is visible.
WorldBounds boundsOfLayers(const MapLayers& layers) {
  WorldBounds bounds;
  for (const MapLayer& layer : layers) {
    if (layer.visible) bounds = unite(bounds, boundsOf(layer.value));
  }
  if (bounds.empty && !layers.empty()) bounds = boundsOf(layers.front().value);
  return bounds;
}

// The legend's notes on a grid's coordinate system: its short name and its unit, where known.
std::vector<std::string> systemNotes(const grid::Grid& grid, Language language) {
  std::vector<std::string> notes;
  if (!grid.georeference.shortName.empty()) {
    notes.push_back(cformat(text::kLegendSystem.in(language), grid.georeference.shortName.c_str()));
  }
  if (const std::string unit = coordinateUnit(grid.georeference.wkt); !unit.empty()) {
    notes.push_back(cformat(text::kLegendUnit.in(language), unit.c_str()));
  }
  return notes;
}

MapLayers singleLayer(engine::Operand shown, double missingValue) {
  MapLayers layers;
  layers.push_back(makeLayer(0, {}, std::move(shown), true, missingValue));
  layers.back().filled = true;
  return layers;
}

engine::Operand shownOf(const MapLayers& layers) {
  for (const MapLayer& layer : layers) {
    if (layer.visible) return layer.value;
  }
  return layers.empty() ? engine::Operand::number(0) : layers.front().value;
}

}  // namespace

CRVWnd::CRVWnd(engine::Operand shown, double missingValue, Language language, QWidget* parent)
    : CRVWnd(singleLayer(std::move(shown), missingValue), missingValue, language, parent, false) {}

CRVWnd::CRVWnd(MapLayers layers, double missingValue, Language language, QWidget* parent)
    : CRVWnd(std::move(layers), missingValue, language, parent, true) {}

CRVWnd::CRVWnd(MapLayers layers, double missingValue, Language language, QWidget* parent,
               bool withList)
    : QWidget(parent, Qt::Window),
      shown_(shownOf(layers)),
      layers_(std::move(layers)),
      missingValue_(missingValue),
      language_(language),
      fullBounds_(boundsOfLayers(layers_)),
      rubberBand_(new QRubberBand(QRubberBand::Rectangle, this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setCursor(Qt::ArrowCursor);
  setWindowTitle(text::kTitle.in(language_));
  for (const MapLayer& layer : layers_) {
    if (layer.visible) {
      shownId_ = layer.id;
      break;
    }
  }
  classifyLayers();
  if (withList) buildLayerList();
  renderTimer_.setSingleShot(true);
  renderTimer_.setInterval(kRenderDelayMs);
  connect(&renderTimer_, &QTimer::timeout, this, [this] {
    renderPicture();
    update();
  });
  resize(500, 500);
  relayout();
}

void CRVWnd::classifyValues(double minimum, double maximum) {
  valueMinimum_ = minimum;
  valueMaximum_ = maximum;
  classes_.emplace(minimum, maximum);
  valueMagnitude_ = std::max(std::abs(minimum), std::abs(maximum));
  valueRange_ = maximum - minimum;
}

const grid::Grid* CRVWnd::shownGrid() const {
  const std::optional<std::size_t> index = visibleGrid(layers_);
  return index ? layers_[*index].value.gridValue() : nullptr;
}

void CRVWnd::classifyLayers() {
  classes_.reset();
  classValues_.clear();
  legendNotes_.clear();
  valueMagnitude_ = valueRange_ = 0.0;
  // One legend: the visible grid's classes, else those of the topmost layer coloured by value.
  const auto dataValues = [this](const data::DATA& points) {
    std::vector<double> values;
    for (const double v : points.values()) {
      if (v != missingValue_ && std::isfinite(v)) values.push_back(v);
    }
    return values;
  };
  if (const grid::Grid* grid = shownGrid()) {
    classifyValues(grid::minimum(*grid), grid::maximum(*grid));
    if (classMode_ == ClassMode::EqualCount) classes_ = ColorClasses::equalCount(grid->nodes());
    // The grid is shared with the calculator, whose evaluations run in a worker thread: compute
    // its lazy spline now, while no evaluation runs, so that the view only ever reads it.
    grid->splineCoefficients();
    legendNotes_ = systemNotes(*grid, language_);
  } else {
    for (const MapLayer& layer : layers_) {
      if (!layer.visible) continue;
      if (layer.choropleth) {
        classValues_ = layer.choropleth->values();
      } else if (layer.value.kind() == engine::Kind::Data && layer.byValue) {
        classValues_ = dataValues(layer.value.points());
      } else {
        continue;
      }
      if (classValues_.empty()) continue;
      const auto [low, high] = std::minmax_element(classValues_.begin(), classValues_.end());
      classifyValues(*low, *high);
      if (classMode_ == ClassMode::EqualCount) classes_ = ColorClasses::equalCount(classValues_);
      break;
    }
  }
  // Points without a value are not drawn, so the legend says how many there are.
  std::size_t unvalued = 0;
  for (const MapLayer& layer : layers_) {
    if (!classes_ || !layer.visible || !layer.byValue || layer.value.kind() != engine::Kind::Data)
      continue;
    for (const double v : layer.value.points().values()) unvalued += v == missingValue_ ? 1 : 0;
  }
  if (unvalued > 0) {
    legendNotes_.push_back(std::string(text::kNoValue.in(language_)) + ": " +
                           std::to_string(unvalued));
  }
  if (!classes_ && shown_.kind() == engine::Kind::Data) {
    const std::vector<double> values = dataValues(shown_.points());
    if (!values.empty()) {
      const auto [low, high] = std::minmax_element(values.begin(), values.end());
      valueMagnitude_ = std::max(std::abs(*low), std::abs(*high));
      valueRange_ = *high - *low;
    }
  }
}

const Choropleth* CRVWnd::shownChoropleth() const {
  for (const MapLayer& layer : layers_) {
    if (layer.id == shownId_ && layer.choropleth) return &*layer.choropleth;
  }
  return nullptr;
}

MapLayer* CRVWnd::layerById(int id) {
  const std::optional<std::size_t> index = layerIndex(layers_, id);
  return index ? &layers_[*index] : nullptr;
}

void CRVWnd::layersChanged() {
  classifyLayers();
  for (QAction* action : {equalIntervals_, equalCount_}) {
    if (action != nullptr) action->setEnabled(classes_.has_value());
  }
  fullBounds_ = boundsOfLayers(layers_);
  relayout();
  renderTimer_.stop();
  picture_ = QImage();  // other layers or colours: the old picture is no preview
  update();
}

void CRVWnd::setLayerVisible(int id, bool visible) {
  const std::optional<std::size_t> index = layerIndex(layers_, id);
  if (!index) return;
  if (visible) readRecords(layers_[*index], missingValue_);
  mapview::setLayerVisible(layers_, *index, visible);
  if (layerList_ != nullptr) {
    // A grid shown hides the others: the check boxes follow.
    const QSignalBlocker quiet(layerList_);
    for (int row = 0; row < layerList_->count(); ++row) {
      QListWidgetItem* item = layerList_->item(row);
      const MapLayer* layer = layerById(item->data(Qt::UserRole).toInt());
      if (layer != nullptr) item->setCheckState(layer->visible ? Qt::Checked : Qt::Unchecked);
    }
  }
  layersChanged();
}

void CRVWnd::setLayerFilled(int id, bool filled) {
  if (MapLayer* layer = layerById(id); layer != nullptr && layer->filled != filled) {
    layer->filled = filled;
    layersChanged();
  }
}

void CRVWnd::setLayerByValue(int id, bool byValue) {
  if (MapLayer* layer = layerById(id); layer != nullptr && layer->byValue != byValue) {
    layer->byValue = byValue;
    layersChanged();
  }
}

void CRVWnd::buildLayerList() {
  layerPanel_ = new QWidget(this, Qt::Tool);
  layerPanel_->setWindowTitle(fromUtf8(text::kLayersTitle.in(language_)));
  layerList_ = new QListWidget(layerPanel_);
  auto* box = new QVBoxLayout(layerPanel_);
  box->setContentsMargins(0, 0, 0, 0);
  box->addWidget(layerList_);
  layerList_->setDragDropMode(QAbstractItemView::InternalMove);
  layerList_->setDefaultDropAction(Qt::MoveAction);
  layerList_->setContextMenuPolicy(Qt::CustomContextMenu);
  for (const MapLayer& layer : layers_) {
    auto* item = new QListWidgetItem(fromUtf8(layer.name), layerList_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemIsDragEnabled);
    item->setCheckState(layer.visible ? Qt::Checked : Qt::Unchecked);
    item->setData(Qt::UserRole, layer.id);
  }
  connect(layerList_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const MapLayer* layer = layerById(item->data(Qt::UserRole).toInt());
    const bool checked = item->checkState() == Qt::Checked;
    if (layer != nullptr && layer->visible != checked) setLayerVisible(layer->id, checked);
  });
  // A drag within the list moves its row, or inserts a copy and removes the original.
  connect(layerList_->model(), &QAbstractItemModel::rowsMoved, this, [this] { readLayerList(); });
  connect(layerList_->model(), &QAbstractItemModel::rowsRemoved, this, [this] { readLayerList(); });
  connect(layerList_, &QWidget::customContextMenuRequested, this, &CRVWnd::showLayerMenu);
  layerPanel_->resize(220, 320);
}

void CRVWnd::readLayerList() {
  std::vector<std::size_t> order;
  std::vector<bool> listed(layers_.size(), false);
  for (int row = 0; row < layerList_->count(); ++row) {
    const std::optional<std::size_t> index =
        layerIndex(layers_, layerList_->item(row)->data(Qt::UserRole).toInt());
    if (!index) return;
    // A drop that copies the item before it removes the original lists it twice meanwhile.
    if (listed[*index]) return;
    listed[*index] = true;
    order.push_back(*index);
  }
  if (order.size() != layers_.size()) return;
  if (std::is_sorted(order.begin(), order.end())) return;  // the same order
  MapLayers ordered;
  for (const std::size_t index : order) ordered.push_back(std::move(layers_[index]));
  layers_ = std::move(ordered);
  layersChanged();
}

void CRVWnd::showLayerMenu(const QPoint& position) {
  const QListWidgetItem* item = layerList_->itemAt(position);
  const MapLayer* layer = item != nullptr ? layerById(item->data(Qt::UserRole).toInt()) : nullptr;
  if (layer == nullptr) return;
  const int id = layer->id;
  QMenu menu;
  if (layer->value.kind() == engine::Kind::Polygon && !layer->choropleth) {
    QAction* fill = menu.addAction(fromUtf8(text::kLayerFill.in(language_)));
    fill->setCheckable(true);
    fill->setChecked(layer->filled);
    connect(fill, &QAction::toggled, this, [this, id](bool on) { setLayerFilled(id, on); });
  }
  if (layer->value.kind() == engine::Kind::Data) {
    QAction* byValue = menu.addAction(fromUtf8(text::kLayerByValue.in(language_)));
    byValue->setCheckable(true);
    byValue->setChecked(layer->byValue);
    connect(byValue, &QAction::toggled, this, [this, id](bool on) { setLayerByValue(id, on); });
  }
  if (!menu.isEmpty()) menu.exec(layerList_->viewport()->mapToGlobal(position));
}

void CRVWnd::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (layerPanel_ == nullptr) return;
  const QScreen* screen = this->screen();
  layerPanel_->move(placeBeside(frameGeometry(), layerPanel_->size(),
                                screen != nullptr ? screen->availableGeometry() : QRect()));
  layerPanel_->show();
}

void CRVWnd::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (layerPanel_ != nullptr) layerPanel_->hide();
}

bool CRVWnd::canShow(const engine::Operand& value) {
  return canDraw(value);
}

QPoint CRVWnd::placeBeside(const QRect& anchor, const QSize& size, const QRect& screen) {
  constexpr int kGap = 8;
  const int right = anchor.right() + 1 + kGap;
  const int left = anchor.left() - kGap - size.width();
  if (screen.isEmpty()) return {right, anchor.top()};
  int x = right;
  if (right + size.width() > screen.right() + 1) {
    if (left >= screen.left()) {
      x = left;
    } else {
      const bool moreRoomRight = screen.right() - anchor.right() >= anchor.left() - screen.left();
      x = moreRoomRight ? screen.right() + 1 - size.width() : screen.left();
    }
  }
  x = std::max(screen.left(), std::min(x, screen.right() + 1 - size.width()));
  const int y = std::max(screen.top(), std::min(anchor.top(), screen.bottom() + 1 - size.height()));
  return {x, y};
}

WorldBounds CRVWnd::currentBounds() const {
  if (zoomStack_.empty() || fullBounds_.empty) return fullBounds_;
  return zoomedBounds(zoomStack_.back());
}

TextMetrics CRVWnd::metrics() const {
  const QFontMetrics font = fontMetrics();
  return {font.height(), [font](const std::string& text) {
            return font.horizontalAdvance(QString::fromStdString(text));
          }};
}

void CRVWnd::relayout() {
  const TextMetrics text = metrics();
  LayoutNeeds needs;
  const bool dots = std::any_of(layers_.begin(), layers_.end(), [](const MapLayer& layer) {
    return layer.visible && layer.value.kind() == engine::Kind::Data;
  });
  if (classes_) needs.legendWidth = legendWidth(*classes_, text, legendNotes_);
  if ((!classes_ || dots) && zoomStack_.empty()) needs.padding = kPointPadding;
  layout_ = computeLayout(width(), height(), currentBounds(), text, needs);
  labels_ = mapview::axisLabels(layout_, text);
  legend_ = classes_ ? legendLayout(layout_, *classes_, text, legendNotes_) : LegendLayout{};
  pictureCurrent_ = false;
  if (picture_.isNull()) {
    update();
  } else {
    renderTimer_.start();
    update();
  }
}

void CRVWnd::setClassMode(ClassMode mode) {
  if (!classes_ || mode == classMode_) return;
  classMode_ = mode;
  classifyLayers();
  if (equalCount_ != nullptr) equalCount_->setChecked(mode == ClassMode::EqualCount);
  if (equalIntervals_ != nullptr) equalIntervals_->setChecked(mode == ClassMode::EqualIntervals);
  relayout();
  renderTimer_.stop();
  picture_ = QImage();  // the colours changed: the old picture is no preview
}

void CRVWnd::renderPicture() {
  renderTimer_.stop();
  const qreal ratio = devicePixelRatioF();
  QImage image(size() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setFont(font());
    paintMap(painter, 1.0, &lineLabels_);
  }
  picture_ = std::move(image);
  pictureLayout_ = layout_;
  pictureCurrent_ = true;
}

void CRVWnd::paintMap(QPainter& painter, double rasterScale, std::vector<LineLabel>* labels) const {
  if (!layout_.drawable) return;
  MapPainter map(painter, layout_);
  bool beneath = false;  // whether something is drawn under the next layer
  if (const grid::Grid* grid = shownGrid()) {
    if (rasterScale == 1.0) {
      map.raster(renderGridRaster(*grid, layout_, *classes_));
    } else {
      // The same world at the saved picture's pixels.
      MapLayout fine = layout_;
      fine.left = static_cast<int>(std::lround(layout_.left * rasterScale));
      fine.top = static_cast<int>(std::lround(layout_.top * rasterScale));
      fine.width = static_cast<int>(std::lround(layout_.width * rasterScale));
      fine.height = static_cast<int>(std::lround(layout_.height * rasterScale));
      map.raster(renderGridRaster(*grid, fine, *classes_), rasterScale);
    }
    beneath = true;
  }
  LineLabelPlacer placer(QRectF(layout_.left, layout_.top, layout_.width, layout_.height),
                         metrics());
  for (auto layer = layers_.rbegin(); layer != layers_.rend(); ++layer) {
    if (!layer->visible) continue;
    const engine::Operand& value = layer->value;
    switch (value.kind()) {
      case engine::Kind::Grid:
      case engine::Kind::Number:
        continue;
      case engine::Kind::Data:
        map.dataPoints(value.points(), layer->byValue && classes_ ? &*classes_ : nullptr,
                       missingValue_);
        break;
      case engine::Kind::Lines:
        map.lines(value, layer->levels ? &*layer->levels : nullptr, &placer);
        break;
      case engine::Kind::Polygon:
        if (layer->choropleth && classes_) {
          map.choropleth(*layer->choropleth, *classes_, beneath ? Fill::Translucent : Fill::Opaque);
        } else {
          map.polygon(value, !layer->filled ? Fill::None
                             : beneath      ? Fill::Translucent
                                            : Fill::Opaque);
        }
        break;
    }
    beneath = true;
  }
  map.lineLabels(placer.labels());
  if (labels != nullptr) *labels = placer.labels();
  map.margins();
  if (classes_) map.legend(legend_);
  map.frameAndAxes(labels_);
}

// The kept picture's plot, moved and scaled to where its world lies in the current layout.
void CRVWnd::paintPreview(QPainter& painter) const {
  const MapLayout& from = pictureLayout_;
  const MapLayout& to = layout_;
  if (!from.drawable || !to.drawable) return;
  const double fromX = (from.world.xmax - from.world.xmin) / from.width;
  const double fromY = (from.world.ymax - from.world.ymin) / from.height;
  const double sx = fromX * to.width / (to.world.xmax - to.world.xmin);
  const double sy = fromY * to.height / (to.world.ymax - to.world.ymin);
  const double dx = to.left +
                    (from.world.xmin - to.world.xmin) * to.width / (to.world.xmax - to.world.xmin) -
                    sx * from.left;
  const double dy =
      to.top + to.height -
      (from.world.ymin - to.world.ymin) * to.height / (to.world.ymax - to.world.ymin) -
      sy * (from.top + from.height);
  painter.save();
  painter.setClipRect(QRect(to.left, to.top, to.width + 1, to.height + 1));
  painter.setTransform(QTransform(sx, 0, 0, sy, dx, dy));
  painter.drawImage(QRectF(from.left, from.top, from.width + 1, from.height + 1), picture_,
                    QRectF(QPointF(from.left, from.top) * picture_.devicePixelRatio(),
                           QSizeF(from.width + 1, from.height + 1) * picture_.devicePixelRatio()));
  painter.restore();
}

void CRVWnd::paintEvent(QPaintEvent*) {
  if (!pictureCurrent_ && (picture_.isNull() || !renderTimer_.isActive())) renderPicture();
  QPainter painter(this);
  if (pictureCurrent_ && !panning_) {
    painter.drawImage(QPoint(0, 0), picture_);
  } else if (pictureCurrent_) {
    // A pan in progress: the plot moves with the pointer, the axes stay.
    painter.drawImage(QPoint(0, 0), picture_);
    const QRect plot(layout_.left, layout_.top, layout_.width + 1, layout_.height + 1);
    painter.fillRect(plot, Qt::white);
    painter.save();
    painter.setClipRect(plot);
    painter.drawImage(panOffset_, picture_);
    painter.restore();
  } else {
    painter.fillRect(rect(), Qt::white);
    paintPreview(painter);
    if (layout_.drawable) {
      MapPainter map(painter, layout_);
      if (classes_) map.legend(legend_);
      map.frameAndAxes(labels_);
    }
  }
  if (!layout_.drawable) return;
  MapPainter map(painter, layout_);
  if (picked_ && !panning_ && pictureCurrent_) {
    const data::DATA& points = shown_.points();
    map.marker(points.x()[*picked_], points.y()[*picked_]);
  }
  map.statusLine(statusText_);
}

void CRVWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Rendering a hidden window sends it resize events of an unchanged size.
  if (event->size() != QSize(layout_.clientWidth, layout_.clientHeight)) relayout();
}

void CRVWnd::pushZoom(const ZoomRect& zoom) {
  zoomStack_.push_back(zoom);
  relayout();
}

void CRVWnd::popZoom() {
  if (zoomStack_.empty()) return;
  zoomStack_.pop_back();
  relayout();
}

void CRVWnd::setTopBounds(const WorldBounds& bounds) {
  const ZoomRect zoom{bounds.xmin, bounds.ymin, bounds.xmax, bounds.ymax};
  if (zoomStack_.empty()) {
    zoomStack_.push_back(zoom);
  } else {
    zoomStack_.back() = zoom;
  }
  relayout();
}

void CRVWnd::showUnder(QPoint position, double x, double y, WorldBounds bounds) {
  // The margins follow the labels of the new bounds, which may move the plot by a few pixels:
  // measuring and correcting twice puts the point under the position to within a pixel.
  for (int pass = 0; pass < 3; ++pass) {
    setTopBounds(bounds);
    if (!layout_.drawable) return;
    const double dx = x - layout_.worldX(position.x());
    const double dy = y - layout_.worldY(position.y());
    bounds = layout_.world;
    bounds.xmin += dx;
    bounds.xmax += dx;
    bounds.ymin += dy;
    bounds.ymax += dy;
  }
  setTopBounds(bounds);
}

void CRVWnd::pan(QPoint offset) {
  if (!layout_.drawable || offset.isNull()) return;
  const QPoint centre(layout_.left + layout_.width / 2, layout_.top + layout_.height / 2);
  showUnder(centre + offset, layout_.worldX(centre.x()), layout_.worldY(centre.y()), layout_.world);
}

void CRVWnd::zoomAt(QPoint position, double factor) {
  if (!layout_.drawable || !(factor > 0)) return;
  const double x = layout_.worldX(position.x());
  const double y = layout_.worldY(position.y());
  const WorldBounds& w = layout_.world;
  const WorldBounds zoomed{x - (x - w.xmin) * factor, x + (w.xmax - x) * factor,
                           y - (y - w.ymin) * factor, y + (w.ymax - y) * factor, false};
  // Never closer than the coordinates' digits can tell apart.
  const double smallest = 1e-9 * std::max({std::abs(w.xmin), std::abs(w.xmax), 1e-300});
  if (zoomed.xmax - zoomed.xmin < smallest) return;
  showUnder(position, x, y, zoomed);
}

PointerReading CRVWnd::readingAt(QPoint position) const {
  PointerReading reading;
  reading.insideX = layout_.drawable && position.x() >= layout_.left &&
                    position.x() <= layout_.left + layout_.width;
  reading.insideY = layout_.drawable && position.y() >= layout_.top &&
                    position.y() <= layout_.top + layout_.height;
  reading.x = layout_.worldX(position.x());
  reading.y = layout_.worldY(position.y());
  if (const grid::Grid* grid = shownGrid()) {
    reading.hasValue = true;
    const bool overGrid = reading.x >= grid->left && reading.x <= grid->right &&
                          reading.y >= grid->bottom && reading.y <= grid->top;
    if (reading.insideX && reading.insideY && overGrid) {
      if (grid->blankAt(reading.x, reading.y)) {
        reading.blank = true;
      } else {
        reading.value = grid->value(reading.x, reading.y);
      }
    }
  } else if (const Choropleth* choropleth = shownChoropleth()) {
    reading.hasValue = true;
    const Choropleth::Record* record =
        reading.insideX && reading.insideY ? choropleth->recordAt(reading.x, reading.y) : nullptr;
    if (record != nullptr) {
      reading.record = record->number;
      reading.label = record->label;
      reading.value = record->value;
      reading.missing = !record->value;
    }
  } else if (shown_.kind() == engine::Kind::Data) {
    reading.hasValue = true;
    const std::optional<std::size_t> near = pointNear(position);
    if (near) {
      reading.value = shown_.points().values()[*near];
    } else if (selectedValue_) {
      reading.value = selectedValue_;
    }
    reading.missing = reading.value && *reading.value == missingValue_;
  }
  return reading;
}

QString CRVWnd::statusLine(const PointerReading& reading) const {
  if (!layout_.drawable) return {};
  const WorldBounds& w = layout_.world;
  const double pixel = layout_.pixelSize();
  const auto coordinate = [pixel](bool inside, double value, double magnitude) {
    return inside ? formatReading(value, significantDigits(magnitude, pixel)) : std::string("?");
  };
  std::string line =
      "x = " +
      coordinate(reading.insideX, reading.x, std::max(std::abs(w.xmin), std::abs(w.xmax))) +
      "    y = " +
      coordinate(reading.insideY, reading.y, std::max(std::abs(w.ymin), std::abs(w.ymax)));
  if (reading.record) {
    line += "    " +
            cformat(text::kRecordNumber.in(language_), static_cast<long long>(*reading.record));
  }
  if (reading.hasValue) {
    line += "    z = ";
    if (reading.blank) {
      line += text::kReadOutBlank.in(language_);
    } else if (reading.missing) {
      line += text::kPickedMissing.in(language_);
    } else if (reading.value) {
      line += formatReading(*reading.value, significantDigits(valueMagnitude_, valueRange_ * 1e-5));
    } else {
      line += "?";
    }
  }
  if (!reading.label.empty()) line += "    " + reading.label;
  // A grid with a coordinate system names it, as the operand list does.
  if (const grid::Grid* grid = shownGrid();
      grid != nullptr && !grid->georeference.shortName.empty()) {
    line += "    " + grid->georeference.shortName;
  }
  return fromUtf8(line);
}

QString CRVWnd::coordinateTitle(const PointerReading& reading) const {
  std::string title = std::string(text::kTitle.in(language_)) + " | x=";
  title += reading.insideX ? cformat(" %.2lf,", reading.x) : std::string(" ?,");
  title += reading.insideY ? cformat(" y= %.2lf", reading.y) : std::string(" y= ?");
  if (shownGrid() != nullptr || shownChoropleth() != nullptr) {
    if (reading.blank) {
      title += std::string(", z= ") + text::kReadOutBlank.in(language_);
    } else {
      title += reading.value ? cformat(", z= %.3lf", *reading.value) : std::string(", z= ?");
    }
  }
  return fromUtf8(title);
}

void CRVWnd::readOut(QPoint position) {
  const PointerReading reading = readingAt(position);
  QString title = coordinateTitle(reading);
  if (shown_.kind() == engine::Kind::Data && selectedValue_) {
    title += *selectedValue_ == missingValue_ ? QString(", z= ") + text::kReadOutMissing
                                              : fromUtf8(cformat(", z= %.3lf", *selectedValue_));
  }
  setWindowTitle(title);
  statusText_ = statusLine(reading);
  update(QRect(0, layout_.statusTop, width(), height() - layout_.statusTop));
}

std::optional<std::size_t> CRVWnd::pointNear(QPoint position) const {
  if (shown_.kind() != engine::Kind::Data || !layout_.drawable) return std::nullopt;
  const data::DATA& points = shown_.points();
  const auto xs = points.x();
  const auto ys = points.y();
  for (std::size_t i = 0; i < points.count(); ++i) {
    if (std::abs(layout_.column(xs[i]) - position.x()) <= kPickDistance &&
        std::abs(layout_.row(ys[i]) - position.y()) <= kPickDistance) {
      return i;
    }
  }
  return std::nullopt;
}

void CRVWnd::pick(QPoint position) {
  if (shown_.kind() != engine::Kind::Data || !layout_.drawable) return;
  picked_ = pointNear(position);
  selectedValue_.reset();
  if (picked_) selectedValue_ = shown_.points().values()[*picked_];
  if (selectedValue_) {
    const std::string value = *selectedValue_ == missingValue_
                                  ? std::string(", z= ") + text::kPickedMissing.in(language_)
                                  : cformat(", z= %.2lf", *selectedValue_);
    setWindowTitle(coordinateTitle(readingAt(position)) + fromUtf8(value));
  }
  statusText_ = statusLine(readingAt(position));
  update();
}

void CRVWnd::syncLayout() {
  // A hidden window gets its resize event only when it is shown or grabbed.
  if (size() != QSize(layout_.clientWidth, layout_.clientHeight)) relayout();
}

QImage CRVWnd::picture() {
  syncLayout();
  if (!pictureCurrent_) renderPicture();
  return grab().toImage();
}

void CRVWnd::drawPicture(QPainter& painter, double scale) const {
  // A font sized in pixels draws the same on a device of any resolution.
  QFont font = this->font();
  font.setPixelSize(QFontInfo(this->font()).pixelSize());
  painter.setFont(font);
  paintMap(painter, scale);
  if (picked_ && layout_.drawable) {
    MapPainter map(painter, layout_);
    map.marker(shown_.points().x()[*picked_], shown_.points().y()[*picked_]);
  }
}

void CRVWnd::setImageResolution(int dpi) {
  imageDpi_ = std::max(0, dpi);
}

bool CRVWnd::savePicture(QString path) {
  syncLayout();
  std::optional<ImageFormat> format = imageFormatOf(path);
  if (!format) {
    path += ".bmp";
    format = ImageFormat::Bmp;
  }
  return exportImage(path, *format, size(), imageDpi_ > 0 ? imageDpi_ : kScreenDpi,
                     [this](QPainter& painter, double scale) { drawPicture(painter, scale); });
}

void CRVWnd::saveWithDialog() {
  if (!choosePicturePath_) return;
  const QString start = QSettings().value("Directory/LastOpenedDir").toString();
  const QString path = choosePicturePath_(start);
  // A picture that cannot be written is abandoned without a message.
  if (!path.isEmpty()) static_cast<void>(savePicture(path));
}

QMenu* CRVWnd::contextMenu() {
  if (menu_ != nullptr) return menu_;
  menu_ = new QMenu(this);
  auto* classes = new QActionGroup(menu_);
  equalIntervals_ = menu_->addAction(fromUtf8(text::kEqualIntervals.in(language_)));
  equalCount_ = menu_->addAction(fromUtf8(text::kEqualCount.in(language_)));
  for (QAction* action : {equalIntervals_, equalCount_}) {
    action->setCheckable(true);
    action->setEnabled(classes_.has_value());
    classes->addAction(action);
  }
  equalIntervals_->setChecked(classMode_ == ClassMode::EqualIntervals);
  equalCount_->setChecked(classMode_ == ClassMode::EqualCount);
  connect(equalIntervals_, &QAction::triggered, this,
          [this] { setClassMode(ClassMode::EqualIntervals); });
  connect(equalCount_, &QAction::triggered, this, [this] { setClassMode(ClassMode::EqualCount); });
  return menu_;
}

QMenu* CRVWnd::viewMenu() {
  if (viewMenu_ != nullptr) return viewMenu_;
  contextMenu();
  viewMenu_ = new QMenu(this);
  viewMenu_->addAction(equalIntervals_);
  viewMenu_->addAction(equalCount_);
  viewMenu_->addSeparator();
  connect(viewMenu_->addAction(fromUtf8(text::kSaveImage.in(language_))), &QAction::triggered, this,
          &CRVWnd::saveWithDialog);
  QMenu* resolution = viewMenu_->addMenu(fromUtf8(text::kImageResolution.in(language_)));
  auto* choices = new QActionGroup(resolution);
  const auto addChoice = [&](const QString& name, int dpi) {
    QAction* action = resolution->addAction(name);
    action->setCheckable(true);
    action->setChecked(imageDpi_ == dpi);
    action->setData(dpi);
    choices->addAction(action);
    connect(action, &QAction::triggered, this, [this, dpi] { setImageResolution(dpi); });
  };
  addChoice(fromUtf8(text::kWindowSize.in(language_)), 0);
  for (const int dpi : kResolutions) addChoice(QString("%1 dpi").arg(dpi), dpi);
  connect(resolution, &QMenu::aboutToShow, this, [this, choices] {
    for (QAction* action : choices->actions()) action->setChecked(action->data() == imageDpi_);
  });
  if (layerPanel_ != nullptr) {
    // Brings back the layer list once it was closed.
    viewMenu_->addSeparator();
    connect(viewMenu_->addAction(fromUtf8(text::kLayersTitle.in(language_))), &QAction::triggered,
            this, [this] {
              layerPanel_->show();
              layerPanel_->raise();
            });
  }
  return viewMenu_;
}

void CRVWnd::contextMenuEvent(QContextMenuEvent* event) {
  // Shift and Control with the right button zoom out and save the picture.
  if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return;
  viewMenu()->popup(event->globalPos());
}

void CRVWnd::mousePressEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (event->button() == Qt::LeftButton && shift) {
    dragStart_ = position;
    dragging_ = true;
    rubberBand_->setGeometry(QRect(dragStart_, QSize()));
    rubberBand_->show();
  } else if (event->button() == Qt::RightButton && shift) {
    popZoom();
  } else if (event->button() == Qt::RightButton && (event->modifiers() & Qt::ControlModifier)) {
    saveWithDialog();
  } else if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) {
    pressPosition_ = position;
    leftDown_ = event->button() == Qt::LeftButton;
    panning_ = event->button() == Qt::MiddleButton;
    panOffset_ = {};
  }
}

void CRVWnd::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (dragging_) rubberBand_->setGeometry(QRect(dragStart_, position).normalized());
  if (leftDown_ && !panning_ && (position - pressPosition_).manhattanLength() > kPanThreshold) {
    panning_ = true;
  }
  if (panning_) {
    panOffset_ = position - pressPosition_;
    update();
  }
  readOut(position);
}

void CRVWnd::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint end = event->position().toPoint();
  if (dragging_ && event->button() == Qt::LeftButton) {
    dragging_ = false;
    rubberBand_->hide();
    if (end == dragStart_ || !layout_.drawable) return;
    pushZoom({layout_.worldX(dragStart_.x()), layout_.worldY(dragStart_.y()),
              layout_.worldX(end.x()), layout_.worldY(end.y())});
    return;
  }
  const bool wasLeft = leftDown_ && event->button() == Qt::LeftButton;
  if (event->button() == Qt::LeftButton) leftDown_ = false;
  if (panning_ && (event->button() == Qt::MiddleButton || wasLeft)) {
    panning_ = false;
    const QPoint offset = end - pressPosition_;
    panOffset_ = {};
    pan(offset);
    return;
  }
  if (wasLeft) pick(end);
}

void CRVWnd::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  zoomAt(event->position().toPoint(), std::pow(kWheelZoomStep, notches));
  readOut(event->position().toPoint());
}

}  // namespace vellumar::ui::mapview
