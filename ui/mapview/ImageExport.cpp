#include "ui/mapview/ImageExport.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSvgGenerator>

#include <cmath>

#include "common/SafeSave.h"

namespace vellumar::ui::mapview {
namespace {

constexpr double kInchesPerMetre = 1.0 / 0.0254;

QByteArray rasterBytes(ImageFormat format, QSize logicalSize, int dpi, const PictureDrawer& draw) {
  const double scale = static_cast<double>(dpi) / kScreenDpi;
  const QSize pixels(static_cast<int>(std::lround(logicalSize.width() * scale)),
                     static_cast<int>(std::lround(logicalSize.height() * scale)));
  QImage image(pixels, QImage::Format_RGB32);
  if (image.isNull()) return {};  // too large to hold
  image.fill(Qt::white);
  const int dotsPerMetre = static_cast<int>(std::lround(dpi * kInchesPerMetre));
  image.setDotsPerMeterX(dotsPerMetre);
  image.setDotsPerMeterY(dotsPerMetre);
  {
    QPainter painter(&image);
    painter.scale(scale, scale);
    draw(painter, scale);
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format == ImageFormat::Png ? "PNG" : "BMP")) return {};
  return bytes;
}

QByteArray svgBytes(QSize logicalSize, int dpi, const PictureDrawer& draw) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(logicalSize);
  svg.setViewBox(QRect(QPoint(0, 0), logicalSize));
  svg.setResolution(dpi);
  {
    QPainter painter(&svg);
    if (!painter.isActive()) return {};
    painter.fillRect(QRect(QPoint(0, 0), logicalSize), Qt::white);
    draw(painter, static_cast<double>(dpi) / kScreenDpi);
  }
  return bytes;
}

}  // namespace

std::optional<ImageFormat> imageFormatOf(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == "bmp") return ImageFormat::Bmp;
  if (suffix == "png") return ImageFormat::Png;
  if (suffix == "svg") return ImageFormat::Svg;
  return std::nullopt;
}

bool exportImage(const QString& path, ImageFormat format, QSize logicalSize, int dpi,
                 const PictureDrawer& draw) {
  if (logicalSize.isEmpty() || dpi <= 0) return false;
  const QByteArray bytes = format == ImageFormat::Svg ? svgBytes(logicalSize, dpi, draw)
                                                      : rasterBytes(format, logicalSize, dpi, draw);
  if (bytes.isEmpty()) return false;
  return writeFileAtomically(QFile::encodeName(path).toStdString(),
                             std::string_view(bytes.constData(), bytes.size()));
}

}  // namespace vellumar::ui::mapview
