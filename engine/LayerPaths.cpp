#include "engine/LayerPaths.h"

#include <algorithm>

#include "data/DataFileWriter.h"
#include "data/Shapefile.h"
#include "engine/FileMessages.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

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
  const std::string layer = formats::splitLayerPath(path).layer;
  const std::vector<std::string> layers = formats::vectorLayers(path);
  if (layer.empty()) return !layers.empty();
  return std::any_of(layers.begin(), layers.end(),
                     [&layer](const std::string& name) { return sameIgnoringCase(name, layer); });
}

}  // namespace vellumar::engine
