#pragma once

#include <QPainter>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace vellumar::ui::mapview {

// The formats a map view saves its picture in.
enum class ImageFormat { Bmp, Png, Svg };

// The format a path's extension names (any case); none for another extension.
std::optional<ImageFormat> imageFormatOf(const QString& path);

// Draws a picture in logical pixels; scale is the number of device pixels per logical pixel, for
// what it renders as a raster itself (a grid's colours), so that it stays sharp at a high DPI.
using PictureDrawer = std::function<void(QPainter& painter, double scale)>;

// The resolution of a picture saved at the view's size: a logical pixel is one pixel.
inline constexpr int kScreenDpi = 96;

// Draws a picture of logicalSize and writes it to path in format through the safe save, so that
// a failed write leaves a file already there as it was. A BMP or PNG has dpi / 96 pixels per
// logical pixel and records the DPI; an SVG keeps the logical size as its view box and takes
// its physical size from the DPI. False when the picture cannot be made or written.
[[nodiscard]] bool exportImage(const QString& path, ImageFormat format, QSize logicalSize, int dpi,
                               const PictureDrawer& draw);

}  // namespace vellumar::ui::mapview
