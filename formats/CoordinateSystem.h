#pragma once

#include <string>

namespace vellumar::formats {

// Coordinate systems as GDAL knows them, passed around as WKT text. An empty text is a grid
// without a coordinate system (every DSAA grid), which goes with any other.

// The short name of a coordinate system for lists and the map view: "EPSG:32632" when GDAL can
// name its authority code, else the system's own name ("WGS 84 / UTM zone 32N"); empty for an
// empty or unreadable text.
std::string shortName(const std::string& wkt);

// Whether two systems are one, compared by GDAL (so two WKT spellings of one system agree);
// true when either is empty.
bool sameCoordinateSystem(const std::string& a, const std::string& b);

// Whether the system is geographic (its coordinates are degrees of longitude and latitude); false
// for an empty or unreadable text.
bool isGeographic(const std::string& wkt);

// The system in the ESRI spelling of a .prj file; empty when GDAL cannot convert it.
std::string esriWkt(const std::string& wkt);

}  // namespace vellumar::formats
