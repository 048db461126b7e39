#include "engine/LoadedFiles.h"

#include <algorithm>

#include "data/DataFileWriter.h"
#include "data/Shapefile.h"

namespace vellumar::engine {

const std::vector<std::string>& LoadedFiles::paths(FileKind kind) const {
  return paths_[static_cast<int>(kind)];
}

bool LoadedFiles::isLoaded(FileKind kind, const std::string& path) const {
  const std::vector<std::string>& loaded = paths(kind);
  return std::find(loaded.begin(), loaded.end(), path) != loaded.end();
}

void LoadedFiles::add(FileKind kind, const std::string& path, Operand operand) {
  assertNoEvaluation();
  std::vector<std::string>& loaded = pathsOf(kind);
  loaded.push_back(path);
  if (data::isShapefilePath(path)) noteProjection(path);
  registerOperand(operandName(kind, loaded.size()), path, std::move(operand));
}

void LoadedFiles::closeList(FileKind kind) {
  assertNoEvaluation();
  pathsOf(kind).clear();
}

void LoadedFiles::refresh(FileKind kind, const std::string& path, const Operand& result) {
  const std::vector<std::string>& loaded = paths(kind);
  const auto found = std::find(loaded.begin(), loaded.end(), path);
  if (found == loaded.end()) return;
  Operand refreshed = result;
  refreshed.setKind(operandKind(kind));
  registerOperand(operandName(kind, static_cast<std::size_t>(found - loaded.begin()) + 1), path,
                  std::move(refreshed));
}

void LoadedFiles::registerOperand(const std::string& name, const std::string& path,
                                  Operand operand) {
  assertNoEvaluation();
  operand.setSourcePath(path);
  operand.setArgumentPosition(0);
  calc_.registry().findOrCreate(name).value = std::move(operand);
}

void LoadedFiles::noteProjection(const std::string& path) {
  std::string projection;
  if (!data::ReadProjection(path, projection) || projection.empty()) return;
  if (projection_.empty()) {
    projection_ = std::move(projection);
  } else if (projection != projection_) {
    projectionsDiffer_ = true;
  }
}

const std::string& LoadedFiles::sessionProjection() const {
  static const std::string none;
  return projectionsDiffer_ ? none : projection_;
}

std::string LoadedFiles::operandName(FileKind kind, std::size_t number) {
  static constexpr char kLetters[] = {'G', 'C', 'P'};
  return kLetters[static_cast<int>(kind)] + std::to_string(number);
}

}  // namespace vellumar::engine
