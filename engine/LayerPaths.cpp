#include "engine/LayerPaths.h"

#include "data/DataFileWriter.h"
#include "data/Shapefile.h"
#include "engine/FileMessages.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {

bool isLayerPath(const std::string& path) {
  return data::isShapefilePath(path) || formats::readsAsVector(path);
}

std::vector<std::string> layerFields(const std::string& path) {
  std::vector<std::string> names;
  if (data::isShapefilePath(path)) {
    if (!data::ListDbfFields(path, names)) names.clear();
  } else if (formats::readsAsVector(path)) {
    names = formats::vectorFields(path);
  }
  return names;
}

bool layerOpens(const std::string& path) {
  if (!formats::readsAsVector(path)) return !isMissing(path);
  return formats::vectorLayerOpens(path);
}

}  // namespace vellumar::engine
