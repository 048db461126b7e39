#include "ui/FileDialogs.h"

#include <QStringList>

namespace vellumar::ui {
namespace {

// Loads offer every grid format at once; saves one filter per format, whose first pattern is the
// extension a name typed without one gets.
constexpr std::string_view kGridLoadFilter =
    "Гриды (*.grd *.tif *.tiff *.asc *.nc *.img *.vrt)|*.grd *.tif *.tiff *.asc *.nc *.img "
    "*.vrt|Все файлы (*.*)|*.*||";
constexpr std::string_view kGridSaveFilter =
    "Файлы гридов (*.grd) |*.grd|GeoTIFF (*.tif *.tiff)|*.tif *.tiff|ESRI ASCII (*.asc)|*.asc|"
    "netCDF (*.nc)|*.nc|ERDAS Imagine (*.img)|*.img|Все файлы (*.*)|*.*||";
// Vector layers read through GDAL: every such format at once for loads, one filter per written
// format for saves.
#define VELLUMAR_VECTOR_PATTERNS "*.gpkg *.geojson *.json *.fgb *.kml *.gml"
#define VELLUMAR_VECTOR_LOADS \
  "Векторные слои (" VELLUMAR_VECTOR_PATTERNS ") |" VELLUMAR_VECTOR_PATTERNS "|"
#define VELLUMAR_VECTOR_SAVES                                                          \
  "GeoPackage (*.gpkg)|*.gpkg|GeoJSON (*.geojson *.json)|*.geojson *.json|FlatGeobuf " \
  "(*.fgb)|*.fgb|"
// Each load dialog opens on every file of its kind, shapefiles and vector layers included.
constexpr std::string_view kLineLoadFilter =
    "Линии (*.con *.lin *.shp " VELLUMAR_VECTOR_PATTERNS
    ")|*.con *.lin *.shp " VELLUMAR_VECTOR_PATTERNS
    "|"
    "Файлы линий (*.con) |*.con|Файлы линий (*.lin) |*.lin|Файлы линий (*.shp) "
    "|*.shp|" VELLUMAR_VECTOR_LOADS " Все файлы (*.*)|*.*||";
constexpr std::string_view kLineSaveFilter =
    "Файлы линий (*.con) |*.con|Файлы линий (*.lin) |*.lin|Файлы линий (*.shp) "
    "|*.shp|" VELLUMAR_VECTOR_SAVES " Все файлы (*.*)|*.*||";
constexpr std::string_view kPolygonLoadFilter =
    "Полигоны (*.pol *.con *.shp " VELLUMAR_VECTOR_PATTERNS
    ")|*.pol *.con *.shp " VELLUMAR_VECTOR_PATTERNS
    "|"
    "Файлы полигонов (*.pol) |*.pol|Файлы полигонов (*.con) |*.con|Файлы полигонов (*.shp) "
    "|*.shp|" VELLUMAR_VECTOR_LOADS " Все файлы (*.*)|*.*||";
constexpr std::string_view kPolygonSaveFilter =
    "Файлы полигонов (*.pol) |*.pol|Файлы полигонов (*.con) |*.con|Файлы полигонов (*.shp) "
    "|*.shp|" VELLUMAR_VECTOR_SAVES " Все файлы (*.*)|*.*||";
constexpr std::string_view kDataLoadFilter =
    "Данные (*.dat *.txt *.csv *.shp " VELLUMAR_VECTOR_PATTERNS
    ")|*.dat *.txt *.csv *.shp " VELLUMAR_VECTOR_PATTERNS
    "|"
    "Файлы данных (*.dat) |*.dat|Файлы данных (*.shp) |*.shp|" VELLUMAR_VECTOR_LOADS
    " Все файлы (*.*)|*.*||";
constexpr std::string_view kDataSaveFilter =
    "Файлы данных (*.dat) |*.dat| Файлы данных (*.shp) |*.shp|" VELLUMAR_VECTOR_SAVES
    " Все файлы (*.*)|*.*||";
#undef VELLUMAR_VECTOR_PATTERNS
#undef VELLUMAR_VECTOR_LOADS
#undef VELLUMAR_VECTOR_SAVES
constexpr std::string_view kPictureFilter =
    "Bitmap файлы (*.bmp)|*.bmp|PNG (*.png)|*.png|SVG (*.svg)|*.svg|Все файлы (*.*)|*.*||";
constexpr std::string_view kDisplayFilter = "Файлы табло (*.ctb)|*.ctb| Все файлы (*.*)|*.*||";

// Settings keys of the folders last used, per kind of file.
constexpr const char* kGridFolder = "Folders/Grids";
constexpr const char* kLineFolder = "Folders/Lines";
constexpr const char* kPolygonFolder = "Folders/Polygons";
constexpr const char* kDataFolder = "Folders/Data";
constexpr const char* kDisplayFolder = "Folders/Display";
// The picture folder keeps the profile entry the picture dialog has always started from.
constexpr const char* kPictureFolder = "Directory/LastOpenedDir";

FileDialogSetup setup(const char* title, const char* suffix, std::string_view filter,
                      const char* folderKey) {
  FileDialogSetup made;
  made.title = QString::fromUtf8(title);
  made.defaultSuffix = QString::fromUtf8(suffix);
  made.filter = qtFilter(filter);
  made.folderKey = QString::fromUtf8(folderKey);
  return made;
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
      return setup("Загрузить грид из файла", "grd", kGridLoadFilter, kGridFolder);
    case engine::FileKind::Lines:
      return setup("Загрузить линии из файла", "con", kLineLoadFilter, kLineFolder);
    case engine::FileKind::Polygon:
      return setup("Загрузить полигон из файла", "pol", kPolygonLoadFilter, kPolygonFolder);
  }
  return {};
}

FileDialogSetup savePictureDialogSetup(const QString& folder) {
  FileDialogSetup picture = setup("Сохранить картинку", "bmp", kPictureFilter, kPictureFolder);
  picture.folder = folder;
  return picture;
}

FileDialogSetup loadDataDialogSetup() {
  return setup("Загрузить данные из файла", "dat", kDataLoadFilter, kDataFolder);
}

FileDialogSetup saveDialogSetup(engine::Kind kind) {
  switch (kind) {
    case engine::Kind::Grid:
      return setup("Сохранить грид как...", "grd", kGridSaveFilter, kGridFolder);
    case engine::Kind::Lines:
      return setup("Сохранить линии как...", "con", kLineSaveFilter, kLineFolder);
    case engine::Kind::Polygon:
      return setup("Сохранить полигон как...", "pol", kPolygonSaveFilter, kPolygonFolder);
    case engine::Kind::Data: {
      // Saving over the loaded data file appends a column: the window asks its own question.
      FileDialogSetup data = setup("Сохранить данные как...", "dat", kDataSaveFilter, kDataFolder);
      data.confirmOverwrite = false;
      return data;
    }
    case engine::Kind::Number:
      break;
  }
  return {};
}

FileDialogSetup saveDisplayDialogSetup() {
  return setup("Сохранить в файле содержимое табло", "ctb", kDisplayFilter, kDisplayFolder);
}

FileDialogSetup loadDisplayDialogSetup() {
  return setup("Загрузить из файла содержимое табло", "ctb", kDisplayFilter, kDisplayFolder);
}

}  // namespace vellumar::ui
