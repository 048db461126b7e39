#include "ui/mapview/CRVWnd.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"
#include "grid/Grid.h"
#include "grid/GridArithmetic.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui::mapview {
namespace {

constexpr int kPickDistance = 3;
constexpr int kPanThreshold = 3;     // pixels a left drag moves before it pans
constexpr int kPointPadding = 8;     // dots on the bounds are drawn whole
constexpr int kRenderDelayMs = 150;  // a new picture once the view has stopped changing
constexpr double kWheelZoomStep = 0.8;

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

}  // namespace

CRVWnd::CRVWnd(engine::Operand shown, double missingValue, Language language, QWidget* parent)
    : QWidget(parent, Qt::Window),
      shown_(std::move(shown)),
      missingValue_(missingValue),
      language_(language),
      fullBounds_(boundsOf(shown_)),
      rubberBand_(new QRubberBand(QRubberBand::Rectangle, this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setCursor(Qt::ArrowCursor);
  setWindowTitle(text::kTitle.in(language_));
  if (const grid::Grid* grid = shown_.gridValue()) {
    classifyValues(grid::minimum(*grid), grid::maximum(*grid));
    // The grid is shared with the calculator, whose evaluations run in a worker thread: compute
    // its lazy spline now, while no evaluation runs, so that the view only ever reads it.
    grid->splineCoefficients();
  } else if (shown_.kind() == engine::Kind::Polygon &&
             (choropleth_ = Choropleth::of(shown_, missingValue_))) {
    classifyValues(choropleth_->minimum(), choropleth_->maximum());
  } else if (shown_.kind() == engine::Kind::Data) {
    std::optional<double> low;
    std::optional<double> high;
    for (const double v : shown_.points().values()) {
      if (v == missingValue_ || !std::isfinite(v)) continue;
      low = std::min(low.value_or(v), v);
      high = std::max(high.value_or(v), v);
    }
    if (low) {
      valueMagnitude_ = std::max(std::abs(*low), std::abs(*high));
      valueRange_ = *high - *low;
    }
  }
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

bool CRVWnd::canShow(const engine::Operand& value) {
  if (value.isNumber()) return false;
  return value.kind() != engine::Kind::Data || value.points().hasCoordinates();
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
  if (classes_) {
    needs.legendWidth = legendWidth(*classes_, text);
  } else if (zoomStack_.empty()) {
    needs.padding = kPointPadding;
  }
  layout_ = computeLayout(width(), height(), currentBounds(), text, needs);
  labels_ = mapview::axisLabels(layout_, text);
  legend_ = classes_ ? legendLayout(layout_, *classes_, text) : LegendLayout{};
  pictureCurrent_ = false;
  if (picture_.isNull()) {
    update();
  } else {
    renderTimer_.start();
    update();
  }
}

void CRVWnd::setClassMode(ClassMode mode) {
  const grid::Grid* grid = shown_.gridValue();
  if (!classes_ || mode == classMode_) return;
  classMode_ = mode;
  if (mode == ClassMode::EqualIntervals) {
    classes_ = ColorClasses(valueMinimum_, valueMaximum_);
  } else {
    classes_ = grid != nullptr ? ColorClasses::equalCount(grid->nodes())
                               : ColorClasses::equalCount(choropleth_->values());
  }
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
    paintMap(painter);
  }
  picture_ = std::move(image);
  pictureLayout_ = layout_;
  pictureCurrent_ = true;
}

void CRVWnd::paintMap(QPainter& painter) const {
  if (!layout_.drawable) return;
  MapPainter map(painter, layout_);
  switch (shown_.kind()) {
    case engine::Kind::Grid:
      map.raster(renderGridRaster(*shown_.gridValue(), layout_, *classes_));
      break;
    case engine::Kind::Data:
      map.dataPoints(shown_.points());
      break;
    case engine::Kind::Lines:
      map.lines(shown_);
      break;
    case engine::Kind::Polygon:
      if (choropleth_) {
        map.choropleth(*choropleth_, *classes_);
      } else {
        map.polygon(shown_);
      }
      break;
    case engine::Kind::Number:
      return;
  }
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
  if (const grid::Grid* grid = shown_.gridValue()) {
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
  } else if (choropleth_) {
    reading.hasValue = true;
    const Choropleth::Record* record =
        reading.insideX && reading.insideY ? choropleth_->recordAt(reading.x, reading.y) : nullptr;
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
  if (const grid::Grid* grid = shown_.kind() == engine::Kind::Grid ? shown_.gridValue() : nullptr;
      grid != nullptr && !grid->georeference.shortName.empty()) {
    line += "    " + grid->georeference.shortName;
  }
  return fromUtf8(line);
}

QString CRVWnd::coordinateTitle(const PointerReading& reading) const {
  std::string title = std::string(text::kTitle.in(language_)) + " | x=";
  title += reading.insideX ? cformat(" %.2lf,", reading.x) : std::string(" ?,");
  title += reading.insideY ? cformat(" y= %.2lf", reading.y) : std::string(" y= ?");
  if (shown_.gridValue() != nullptr || choropleth_) {
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

QImage CRVWnd::picture() {
  if (!pictureCurrent_) renderPicture();
  return grab().toImage();
}

bool CRVWnd::savePicture(QString path) {
  if (QFileInfo(path).suffix().compare("bmp", Qt::CaseInsensitive) != 0) path += ".bmp";
  return picture().save(path, "BMP");
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

void CRVWnd::contextMenuEvent(QContextMenuEvent* event) {
  // Shift and Control with the right button zoom out and save the picture.
  if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return;
  if (!classes_) return;
  contextMenu()->popup(event->globalPos());
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
