#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorSink.h"
#include "data/AttributeTable.h"
#include "data/M_Data.h"
#include "formats/RasterFile.h"
#include "geometry/Geometry.h"

namespace vellumar::formats {

// Lines, polygons and points in the vector formats OGR reads and writes: GeoPackage, GeoJSON,
// FlatGeobuf, KML, GML and every other vector file OGR opens. Shapefiles stay with their own
// reader and writer (data/Shapefile.h).
//
// A file of several layers is read by its first layer, or by the layer named after the file's
// path and a colon: "districts.gpkg:cantons". Geometries become:
//  - LineString and MultiLineString: lines, one per part;
//  - Polygon and MultiPolygon: closed rings, outer rings clockwise and holes counter-clockwise,
//    whatever the file's orientation (GeoJSON winds outer rings the other way);
//  - Point and MultiPoint: rows of a table, one per point.
// Every line or ring takes its feature's number (1, 2, ... in reading order) as its id, and the
// feature's attributes are its record's row. Z and M are dropped (the read says so), features
// without a geometry give nothing, and a geometry collection, or a geometry of another kind than
// the load wants, fails the read naming the feature.

enum class [[nodiscard]] VectorStatus{
    Ok,
    CannotOpen,   // no such file, or not a regular file
    NotVector,    // OGR cannot read it as a vector layer, or it is damaged (libraryError says why)
    NoSuchLayer,  // the layer asked for is not in the file (layers lists the file's)
    WrongGeometry,  // a feature's geometry does not suit the load (feature, geometryName)
    UnknownField,   // the value field is not one of the layer's (fields lists them)
    Cancelled,      // the user cancelled through the progress sink
};

struct [[nodiscard]] VectorRead {
  VectorStatus status = VectorStatus::Ok;
  std::string libraryError;         // OGR's own words on a failure, when it gave any
  std::string layer;                // the layer read, or asked for
  std::vector<std::string> layers;  // the file's layers, for NoSuchLayer
  std::vector<std::string> fields;  // the layer's fields, for UnknownField
  std::int64_t feature = 0;         // the 1-based feature of WrongGeometry
  std::string geometryName;         // OGR's name of its geometry ("Point", "GeometryCollection")
  std::string coordinateSystem;     // the layer's system as WKT; empty when it has none
  bool droppedZOrM = false;         // some vertices had Z or M values, which were left out
  explicit operator bool() const { return status == VectorStatus::Ok; }
};

// What a read makes of a layer.
enum class VectorLoad {
  Lines,     // lines (a polygon layer's rings are read as closed lines)
  Polygons,  // rings of polygons
  Table,     // a table of points: X, Y, then the attribute columns
};

// A vector path split into the file and the layer named after a colon; the layer is empty when
// the path names no layer (or is itself a file, colon or not).
struct LayerPath {
  std::string file;
  std::string layer;
};
LayerPath splitLayerPath(const std::string& path);

// Whether path is read through OGR: yes for the extensions .gpkg, .geojson, .json, .fgb, .kml and
// .gml, and for any other file an OGR vector driver recognises, except shapefiles, delimited text
// and the files named as the program's own text formats (.dat, .csv, .con, .lin, .pol, .val),
// which have readers of their own.
bool readsAsVector(const std::string& path);

// The layers of the vector file at path (a layer after a colon is ignored); empty when OGR cannot
// open it.
std::vector<std::string> vectorLayers(const std::string& path);
// The fields of the layer path names; empty when it cannot be opened.
std::vector<std::string> vectorFields(const std::string& path);
// Whether OGR opens the file of path and finds the layer it names (its first when it names none),
// as a read would find it.
bool vectorLayerOpens(const std::string& path);

// What a read fills: for Lines and Polygons the cover and the attributes, for Table the table.
struct VectorContent {
  geometry::Cover cover;
  data::AttributeTable attributes;
  data::M_Data table;
};

// Reads the layer path names as the load asks. Lines and rings take the numeric value of
// valueField in their feature (compared without regard to case; 0 for every line when it is
// empty; 0 for a null value). progress hears of the features read. On failure content is left
// as it was.
VectorRead readVector(const std::string& path, VectorLoad load, const std::string& valueField,
                      VectorContent& content, ErrorSink* progress = nullptr);

// The same for the bytes of a file, held in memory (for fuzzing and tests); extension, such as
// ".geojson", helps OGR to pick the driver.
VectorRead readVectorBytes(std::string_view bytes, std::string_view extension, VectorLoad load,
                           VectorContent& content);

// Whether a save to path writes a vector file through OGR (by its extension: .gpkg, .geojson,
// .json, .fgb).
bool writesVector(const std::string& path);

// Whether the format of path keeps features without a geometry (FlatGeobuf does not).
bool holdsFeaturesWithoutGeometry(const std::string& path);

// The outcome of a vector write, as of a raster write.
using VectorWrite = RasterWrite;

// Writes a cover to path through the safe save, in the format of its extension, as one layer
// named after the file, with the coordinate system wkt (none when empty):
//  - lines: one LineString feature per line;
//  - polygons: one feature per record of geometry::polygonRecords, a Polygon of an outer ring and
//    its holes, or a MultiPolygon when the record has several outer rings.
// Each feature has the saved layer's fields (when saved has a table) with its first ring's row,
// then the fields Atribute (the value) and ID (the id), under names the layer's fields leave free.
// A GeoPackage is written whole: any layer the old file held is gone.
VectorWrite writeVectorLines(const std::string& path, const geometry::Cover& cover, bool polygons,
                             const data::SavedAttributes* saved, const std::string& wkt,
                             ErrorSink* progress = nullptr);

// Writes a table as points at its 0-based columns xColumn and yColumn, every other column a
// field (numeric or text as the column is); with both columns -1 the features have no geometry,
// which fails in a format that does not hold such features.
VectorWrite writeVectorTable(const std::string& path, const data::M_Data& table, int xColumn,
                             int yColumn, const std::string& wkt, ErrorSink* progress = nullptr);

}  // namespace vellumar::formats
