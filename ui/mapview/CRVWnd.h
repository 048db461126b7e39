#pragma once

#include <QImage>
#include <QPoint>
#include <QRubberBand>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "common/Language.h"
#include "engine/Operand.h"
#include "ui/mapview/MapLayout.h"

namespace vellumar::ui {

// The map view: shows one result (a copy taken when the view opens) as a grid raster with its
// legend, data dots, blue lines or a filled polygon, in a frame with labelled axes. The title reads
// out the world coordinates under the pointer; Shift with a left-button drag zooms to the dragged
// rectangle, Shift with a right click goes back one zoom level, Control with a right click saves
// the picture as BMP, and a left click on a data view picks the nearest data point.
class CRVWnd : public QWidget {
  Q_OBJECT

 public:
  // Asks for the path of a picture to save, starting in the given folder; empty when cancelled.
  using PicturePathChooser = std::function<QString(const QString& startFolder)>;

  CRVWnd(engine::Operand shown, double missingValue, Language language, QWidget* parent = nullptr);

  // The view cannot show numbers, and data without coordinates.
  static bool canShow(const engine::Operand& value);
  // Where a window of the given size goes beside the anchor window (both frames in screen
  // coordinates): to its right when it fits on the screen, else to its left, else on the side
  // with more room, kept on the screen.
  static QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen);

  void setPicturePathChooser(PicturePathChooser chooser) {
    choosePicturePath_ = std::move(chooser);
  }
  // Saves what the window shows as a BMP file (".bmp" is added when missing).
  bool savePicture(QString path);
  // The picture of the client area, as it is painted.
  QImage picture();

  const MapLayout& layout() const { return layout_; }
  int zoomDepth() const { return static_cast<int>(zoomStack_.size()); }
  void pushZoom(const ZoomRect& zoom);
  void popZoom();
  // Updates the title for the pointer at a client position, as a pointer move does.
  void readOut(QPoint position);
  // Picks the data point under a client position, as a left click does.
  void pick(QPoint position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  WorldBounds currentBounds() const;
  void relayout();
  QString coordinateTitle(QPoint position) const;
  void saveWithDialog();

  engine::Operand shown_;
  double missingValue_;
  Language language_;
  WorldBounds fullBounds_;
  std::vector<ZoomRect> zoomStack_;
  MapLayout layout_;
  QImage raster_;  // grid views: the colour raster of the current layout
  std::optional<double> gridMinimum_;
  std::optional<double> gridMaximum_;
  std::optional<double> selectedValue_;
  QRubberBand* rubberBand_ = nullptr;
  QPoint dragStart_;
  bool dragging_ = false;
  PicturePathChooser choosePicturePath_;
};

}  // namespace vellumar::ui
