#include "ui/FileDialogs.h"

#include <QStringList>

namespace vellumar::ui {
namespace {

constexpr std::string_view kGridFilter = "Файлы гридов (*.grd) |*.grd|Все файлы (*.*)|*.*||";
constexpr std::string_view kLineFilter =
    "Файлы линий (*.con) |*.con|Файлы линий (*.lin) |*.lin|Файлы линий (*.shp) |*.shp| Все "
    "файлы (*.*)|*.*||";
constexpr std::string_view kPolygonFilter =
    "Файлы полигонов (*.pol) |*.pol|Файлы полигонов (*.con) |*.con|Файлы полигонов (*.shp) "
    "|*.shp| Все файлы (*.*)|*.*||";
constexpr std::string_view kDataLoadFilter =
    "Файлы данных (*.dat) |*.dat|Файлы данных (*.shp) |*.shp| Все файлы (*.*)|*.*||";
constexpr std::string_view kDataSaveFilter =
    "Файлы данных (*.dat) |*.dat| Файлы данных (*.shp) |*.shp| Все файлы (*.*)|*.*||";
constexpr std::string_view kPictureFilter = "Bitmap файлы (*.bmp)|*.bmp|Все файлы (*.*)|*.*||";
constexpr std::string_view kDisplayFilter = "Файлы табло (*.ctb)|*.ctb| Все файлы (*.*)|*.*||";

FileDialogSetup setup(const char* title, const char* suffix, std::string_view filter) {
  return {QString::fromUtf8(title), QString::fromUtf8(suffix), qtFilter(filter)};
}

}  // namespace

QString qtFilter(std::string_view pairs) {
  const QStringList parts =
      QString::fromUtf8(pairs.data(), static_cast<qsizetype>(pairs.size())).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString pattern = parts[i + 1].trimmed();
    if (description.isEmpty() && pattern.isEmpty()) break;
    // Qt takes the patterns from the parentheses of the description.
    filters << (description.contains(QLatin1Char('(')) ? description
                                                       : description + " (" + pattern + ")");
  }
  return filters.join(QStringLiteral(";;"));
}

FileDialogSetup loadDialogSetup(engine::FileKind kind) {
  switch (kind) {
    case engine::FileKind::Grid:
      return setup("Загрузить грид из файла", "grd", kGridFilter);
    case engine::FileKind::Lines:
      return setup("Загрузить линии из файла", "con", kLineFilter);
    case engine::FileKind::Polygon:
      return setup("Загрузить полигон из файла", "pol", kPolygonFilter);
  }
  return {};
}

FileDialogSetup savePictureDialogSetup(const QString& folder) {
  FileDialogSetup picture = setup("Сохранить картинку", "bmp", kPictureFilter);
  picture.folder = folder;
  return picture;
}

FileDialogSetup loadDataDialogSetup() {
  return setup("Загрузить данные из файла", "dat", kDataLoadFilter);
}

FileDialogSetup saveDialogSetup(engine::Kind kind) {
  switch (kind) {
    case engine::Kind::Grid:
      return setup("Сохранить грид как...", "grd", kGridFilter);
    case engine::Kind::Lines:
      return setup("Сохранить линии как...", "con", kLineFilter);
    case engine::Kind::Polygon:
      return setup("Сохранить полигон как...", "pol", kPolygonFilter);
    case engine::Kind::Data:
      return setup("Сохранить данные как...", "dat", kDataSaveFilter);
    case engine::Kind::Number:
      break;
  }
  return {};
}

FileDialogSetup saveDisplayDialogSetup() {
  return setup("Сохранить в файле содержимое табло", "ctb", kDisplayFilter);
}

FileDialogSetup loadDisplayDialogSetup() {
  return setup("Загрузить из файла содержимое табло", "ctb", kDisplayFilter);
}

}  // namespace vellumar::ui
