#include "engine/Workspace.h"

#include "data/DataFileWriter.h"
#include "data/Shapefile.h"
#include "engine/LayerPaths.h"

namespace vellumar::engine {

FileStatus Workspace::load(FileKind kind, const std::string& path, const std::string& valueField,
                           int band) {
  return messages_.guarded([&] {
    if (FileStatus loaded = checkNotLoaded(kind, path); !loaded.ok) return loaded;
    Operand operand;
    FileStatus status = read(kind, path, valueField, operand, band);
    if (status.ok) addLoaded(kind, path, std::move(operand));
    return status;
  });
}

FileStatus Workspace::checkNotLoaded(FileKind kind, const std::string& path) const {
  return files_.isLoaded(kind, path) ? messages_.alreadyLoaded() : FileStatus::success();
}

FileStatus Workspace::read(FileKind kind, const std::string& path, const std::string& valueField,
                           Operand& operand, int band) const {
  // The window calls read() on its own: the progress of the file's rows closes with it.
  struct ProgressCloser {
    const FileMessages& messages;
    ~ProgressCloser() { messages.closeProgress(); }
  } closer{messages_};
  if (kind == FileKind::Grid) return grids_.read(path, band, operand);
  return lines_.read(kind, path, valueField, operand);
}

FileStatus Workspace::checkLayerOpens(FileKind kind, const std::string& path) const {
  if (layerOpens(path)) return FileStatus::success();
  // The read fails as it opens the file, with the message of the command line's load.
  Operand unread;
  return messages_.guarded([&] { return read(kind, path, {}, unread); });
}

int Workspace::gridBandCount(const std::string& path) {
  return GridLoader::bandCount(path);
}

void Workspace::addLoaded(FileKind kind, const std::string& path, Operand operand) {
  files_.add(kind, path, std::move(operand));
}

FileStatus Workspace::openGridWindows(const std::string& path, int band,
                                      formats::RasterWindowReader& reader) const {
  return messages_.guarded([&] { return grids_.openWindows(path, band, reader); });
}

const std::vector<std::string>& Workspace::loadedPaths(FileKind kind) const {
  return files_.paths(kind);
}

void Workspace::closeList(FileKind kind) {
  files_.closeList(kind);
}

FileStatus Workspace::loadData(const std::string& path, const data::ReadOptions& options,
                               int& slot) {
  return messages_.guarded([&] {
    if (slots_.loaded(path) != nullptr) return messages_.alreadyLoaded();
    data::M_Data table;
    std::string system;
    FileStatus status = readDataTable(path, options, table, &system);
    if (status.ok) slot = storeDataTable(path, std::move(table), std::move(system));
    return status;
  });
}

FileStatus Workspace::readDataTable(const std::string& path, const data::ReadOptions& options,
                                    data::M_Data& table, std::string* system) const {
  return messages_.guarded([&] { return tables_.read(path, options, table, system); });
}

int Workspace::storeDataTable(const std::string& path, data::M_Data table, std::string system) {
  return slots_.store(path, std::move(table), std::move(system));
}

FileStatus Workspace::registerColumn(int slot, int column, std::string* name) {
  return messages_.guarded([&] { return slots_.registerColumn(slot, column, name); });
}

void Workspace::closeDataSlot(int slot) {
  slots_.close(slot);
}

FileStatus Workspace::save(const Operand& result, const std::string& path) {
  return messages_.guarded([&] { return saver_.save(result, path); });
}

const std::string& Workspace::sessionProjection() const {
  return files_.sessionProjection();
}

bool Workspace::isShapefilePath(std::string_view path) {
  return data::isShapefilePath(path);
}

bool Workspace::isLayerPath(const std::string& path) {
  return engine::isLayerPath(path);
}

std::vector<std::string> Workspace::layerFields(const std::string& path) {
  return engine::layerFields(path);
}

std::string Workspace::operandName(FileKind kind, std::size_t number) {
  return LoadedFiles::operandName(kind, number);
}

}  // namespace vellumar::engine
