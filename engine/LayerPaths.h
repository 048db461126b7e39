#pragma once

#include <string>
#include <vector>

namespace vellumar::engine {

// Paths of files read as layers of features with attributes: shapefiles, and the vector files
// read through OGR (formats::readsAsVector), whose path may name one layer ("file.gpkg:layer").

// Whether a path is read as such a layer.
bool isLayerPath(const std::string& path);

// The fields of the layer a path names (a shapefile's DBF, a vector layer), for the choice of the
// value field; empty when it has none or cannot be read.
std::vector<std::string> layerFields(const std::string& path);

// Whether the layer a path names opens, so that its value field can be asked for: a shapefile
// whose file exists, a vector file that OGR opens and that holds the layer named, as the read
// looks it up. A layer that does not open fails its read at once, before a feature is read.
bool layerOpens(const std::string& path);

}  // namespace vellumar::engine
