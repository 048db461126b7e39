#include "ui/mapview/CRVWnd.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>

#include <algorithm>
#include <cmath>

#include "common/CFormat.h"
#include "grid/Grid.h"
#include "grid/GridArithmetic.h"
#include "ui/mapview/ColorClasses.h"
#include "ui/mapview/MapPainter.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui {
namespace {

constexpr int kPickDistance = 3;

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

TextMetrics metricsOf(const QFontMetrics& font) {
  return {font.height(), [font](const std::string& text) {
            return font.horizontalAdvance(QString::fromStdString(text));
          }};
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
  setMouseTracking(true);
  setCursor(Qt::ArrowCursor);
  setAutoFillBackground(true);
  QPalette background = palette();
  background.setColor(QPalette::Window, Qt::white);
  setPalette(background);
  setWindowTitle(mapview_text::kTitle.in(language_));
  if (const grid::Grid* grid = shown_.gridValue()) {
    gridMinimum_ = grid::minimum(*grid);
    gridMaximum_ = grid::maximum(*grid);
    // The grid is shared with the calculator, whose evaluations run in a worker thread: compute
    // its lazy spline now, while no evaluation runs, so that the view only ever reads it.
    grid->splineCoefficients();
  }
  setGeometry(0, 0, 500, 500);
  relayout();
}

bool CRVWnd::canShow(const engine::Operand& value) {
  if (value.isNumber()) return false;
  return value.kind() != engine::Kind::Data || value.points().hasCoordinates();
}

WorldBounds CRVWnd::currentBounds() const {
  if (zoomStack_.empty() || fullBounds_.empty) return fullBounds_;
  return zoomedBounds(zoomStack_.back());
}

void CRVWnd::relayout() {
  const double* largest = gridMaximum_ ? &*gridMaximum_ : nullptr;
  layout_ = computeLayout(width(), height(), currentBounds(), metricsOf(fontMetrics()), largest);
  raster_ = QImage();
  if (layout_.drawable && shown_.gridValue() != nullptr) {
    raster_ =
        renderGridRaster(*shown_.gridValue(), layout_, ColorClasses(*gridMinimum_, *gridMaximum_));
  }
}

void CRVWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!layout_.drawable) return;
  MapPainter map(painter, layout_);
  switch (shown_.kind()) {
    case engine::Kind::Grid:
      map.raster(raster_);
      map.legend(ColorClasses(*gridMinimum_, *gridMaximum_));
      break;
    case engine::Kind::Data:
      map.dataPoints(shown_.points());
      break;
    case engine::Kind::Lines:
      map.lines(shown_);
      break;
    case engine::Kind::Polygon:
      map.polygon(shown_);
      break;
    case engine::Kind::Number:
      return;
  }
  if (shown_.kind() != engine::Kind::Grid) map.margins(width(), height());
  map.frameAndAxes();
}

void CRVWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout();
}

void CRVWnd::pushZoom(const ZoomRect& zoom) {
  zoomStack_.push_back(zoom);
  relayout();
  update();
}

void CRVWnd::popZoom() {
  if (zoomStack_.empty()) return;
  zoomStack_.pop_back();
  relayout();
  update();
}

QString CRVWnd::coordinateTitle(QPoint position) const {
  std::string title = std::string(mapview_text::kTitle.in(language_)) + " | x=";
  const bool xInside = layout_.drawable && position.x() >= layout_.left &&
                       position.x() <= layout_.left + layout_.width;
  const bool yInside = layout_.drawable && position.y() >= layout_.top &&
                       position.y() <= layout_.top + layout_.height;
  const double x = layout_.worldX(position.x());
  const double y = layout_.worldY(position.y());
  title += xInside ? cformat(" %.2lf,", x) : std::string(" ?,");
  title += yInside ? cformat(" y= %.2lf", y) : std::string(" y= ?");
  if (const grid::Grid* grid = shown_.gridValue()) {
    if (!xInside || !yInside) {
      title += ", z= ?";
    } else if (grid->blankAt(x, y)) {
      title += std::string(", z= ") + mapview_text::kReadOutBlank.in(language_);
    } else {
      title += cformat(", z= %.3lf", grid->value(x, y));
    }
  }
  return QString::fromStdString(title);
}

void CRVWnd::readOut(QPoint position) {
  QString title = coordinateTitle(position);
  if (shown_.kind() == engine::Kind::Data && selectedValue_) {
    title += *selectedValue_ == missingValue_
                 ? QString(", z= ") + mapview_text::kReadOutMissing
                 : QString::fromStdString(cformat(", z= %.3lf", *selectedValue_));
  }
  setWindowTitle(title);
}

void CRVWnd::pick(QPoint position) {
  if (shown_.kind() != engine::Kind::Data || !layout_.drawable) return;
  const data::DATA& points = shown_.points();
  const auto xs = points.x();
  const auto ys = points.y();
  selectedValue_.reset();
  for (std::size_t i = 0; i < points.count(); ++i) {
    if (std::abs(layout_.column(xs[i]) - position.x()) <= kPickDistance &&
        std::abs(layout_.row(ys[i]) - position.y()) <= kPickDistance) {
      selectedValue_ = points.values()[i];
      break;
    }
  }
  if (selectedValue_) {
    const std::string value =
        *selectedValue_ == missingValue_
            ? std::string(", z= ") + mapview_text::kPickedMissing.in(language_)
            : cformat(", z= %.2lf", *selectedValue_);
    setWindowTitle(coordinateTitle(position) + QString::fromStdString(value));
  }
  update();
}

QImage CRVWnd::picture() {
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
  if (!path.isEmpty()) savePicture(path);
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
  } else if (event->button() == Qt::LeftButton) {
    pick(position);
  }
}

void CRVWnd::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (dragging_) rubberBand_->setGeometry(QRect(dragStart_, position).normalized());
  readOut(position);
}

void CRVWnd::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  dragging_ = false;
  rubberBand_->hide();
  const QPoint end = event->position().toPoint();
  if (end == dragStart_ || !layout_.drawable) return;
  pushZoom({layout_.worldX(dragStart_.x()), layout_.worldY(dragStart_.y()), layout_.worldX(end.x()),
            layout_.worldY(end.y())});
}

}  // namespace vellumar::ui
