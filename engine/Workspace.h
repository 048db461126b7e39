#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "data/DataColumnChoice.h"
#include "data/M_Data.h"
#include "engine/Calculator.h"
#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {

// Kinds of operand files that are numbered by load order (G1, C1, P1, ...).
enum class FileKind { Grid = 0, Lines = 1, Polygon = 2 };

// The outcome of loading or saving: on failure the message-box text; on success an optional
// notice (the number-result notice of a save).
struct [[nodiscard]] FileStatus {
  bool ok = true;
  std::string message;

  static FileStatus success(std::string notice = {}) { return {true, std::move(notice)}; }
  static FileStatus failure(std::string message) { return {false, std::move(message)}; }
};

// One loaded data file: its table and the coordinate columns chosen for its operands. A closed
// slot keeps its place with the path "emptyPath" and is reused by the next load.
struct DataSlot {
  std::string path;
  data::M_Data table;
  data::CoordinateColumns xy{true, 1, 2};
  std::string coordinateSystem;      // of the layer the table came from; empty for text files
  std::string coordinateSystemName;  // its short name for lists
};

inline constexpr std::string_view kEmptySlotPath = "emptyPath";

// The operand files of one calculator: loads files of every kind into the registry under their
// generated names, remembers which paths are loaded (the duplicate check, the list windows) and
// saves results with the writer of their kind. Its mutators may run in any one thread, but never
// while an evaluation runs in another (asserted in debug builds). The window and the command line
// share it, so they name, refuse and report exactly alike. Memory running out during a load or a
// save (or a thread that cannot be started) fails that command with the out-of-memory message.
class Workspace {
 public:
  explicit Workspace(S_Calculator& calc) : calc_(calc) {}

  // Loads path as the next operand of the kind and registers it; valueField names the field of
  // line values for shapefiles and vector layers (GeoPackage, GeoJSON, ...; a path such as
  // "file.gpkg:layer" names one layer of several). On success it is registered under the next name
  // of its kind (operandName), and the status carries a warning when a line or polygon file had no
  // value file (its values are 0).
  // band is the raster band a grid is read from (1 for the first).
  FileStatus load(FileKind kind, const std::string& path, const std::string& valueField = {},
                  int band = 1);
  // The three steps of load, for a window that reads in a worker thread: the duplicate check,
  // the read (which changes nothing, so it may run while nothing else touches the workspace),
  // and the registration under the next name.
  FileStatus checkNotLoaded(FileKind kind, const std::string& path) const;
  FileStatus read(FileKind kind, const std::string& path, const std::string& valueField,
                  Operand& operand, int band = 1) const;
  // The bands of a raster grid file, for a window that asks which to read; 1 for a DSAA grid, 0
  // for a file GDAL cannot open.
  static int gridBandCount(const std::string& path);
  void addLoaded(FileKind kind, const std::string& path, Operand operand);
  // Opens band of a raster grid file for reading by windows (a grid too large to hold whole),
  // with the load's messages; nothing is read or registered.
  FileStatus openGridWindows(const std::string& path, int band,
                             formats::RasterWindowReader& reader) const;

  // Paths loaded since the kind's list was last closed; entry i is the operand numbered i + 1.
  const std::vector<std::string>& loadedPaths(FileKind kind) const;
  // Closing a list window: the next load of the kind is numbered 1 again; operands stay.
  void closeList(FileKind kind);

  // Reads a data file into the first free slot (or a new one) with the given options; on success
  // slot receives its 1-based number. Its columns become operands through registerColumn.
  FileStatus loadData(const std::string& path, const data::ReadOptions& options, int& slot);
  // The two steps of loadData after its duplicate check: reading the table (changes nothing) and
  // storing it in a slot, whose number is returned. A shapefile's table takes its columns named
  // X and Y as coordinates; other tables take columns 1 and 2.
  // A vector layer's points become a table of X, Y and the attribute columns; system, when given,
  // receives the layer's coordinate system, which storeDataTable gives the slot's columns.
  FileStatus readDataTable(const std::string& path, const data::ReadOptions& options,
                           data::M_Data& table, std::string* system = nullptr) const;
  int storeDataTable(const std::string& path, data::M_Data table, std::string system = {});
  // Registers column (1-based) of a slot as "D<slot>_<column>" with the slot's coordinate
  // columns, as a number when the table has one row and no coordinates are chosen.
  FileStatus registerColumn(int slot, int column, std::string* name = nullptr);
  DataSlot& dataSlot(int slot) { return dataSlots_[static_cast<std::size_t>(slot - 1)]; }
  int dataSlotCount() const { return static_cast<int>(dataSlots_.size()); }
  // Closing a data window frees its slot; its operands stay registered.
  void closeDataSlot(int slot);

  // Saves a result with the writer of its kind. Saving over a loaded file of the same kind
  // registers the result under that file's name.
  FileStatus save(const Operand& result, const std::string& path);
  // How grids saved to raster formats (.tif, .asc, .nc, .img) are written: creation options and
  // the type of the values (Float64 unless set).
  void setRasterOptions(formats::RasterWriteOptions options) {
    rasterOptions_ = std::move(options);
  }

  // The projection a result saved as a shapefile gets as its .prj: that of the shapefiles loaded
  // so far when every one that carried a .prj carried the same bytes; empty (no .prj is written)
  // when none carried one or two differed.
  const std::string& sessionProjection() const;

  // A path names a shapefile when ".shp" or ".SHP" occurs anywhere in it.
  static bool isShapefilePath(std::string_view path);
  // Whether a path is read as a layer of features with attributes: a shapefile, or a vector file
  // read through OGR (formats::readsAsVector).
  static bool isLayerPath(const std::string& path);
  // The fields of the layer a path names (a shapefile's DBF, a vector layer), for the choice of
  // the value field; empty when it has none or cannot be read.
  static std::vector<std::string> layerFields(const std::string& path);
  // The generated name of the n-th (1-based) operand of a kind: "G1", "C2", "P3".
  static std::string operandName(FileKind kind, std::size_t number);

 private:
  FileStatus readGrid(const std::string& path, int band, Operand& operand) const;
  FileStatus readVectorLines(FileKind kind, const std::string& path, const std::string& valueField,
                             Operand& operand) const;
  FileStatus readVectorTable(const std::string& path, data::M_Data& table,
                             std::string* system) const;
  // The message of a failed vector read: the kind's format message naming the file, and on a
  // line of its own what was wrong.
  FileStatus vectorFailure(const formats::VectorRead& read, const MessageText& formatMessage,
                           const std::string& path, const std::string& valueField) const;
  // Writes rings (lines, or the oriented rings of a polygon) with the rows of their records.
  FileStatus saveVectorLines(const Operand& result, const geometry::Cover& rings,
                             const data::SavedAttributes& attributes, bool polygon,
                             const std::string& path, const MessageText& saveMessage) const;
  FileStatus saveVectorData(const Operand& result, const std::string& path) const;
  // The load message of a kind naming the file, and on a line of its own why (when known).
  FileStatus fileFault(const MessageText& message, const std::string& file,
                       const std::string& reason) const;
  // "Нельзя открыть файл ... !" for a path that names no file.
  FileStatus cannotOpen(const std::string& path) const;
  // The outcome of a write through GDAL: the save message of the kind with GDAL's reason on a
  // second line, or the cancel.
  FileStatus libraryWrite(const formats::RasterWrite& written,
                          const MessageText& saveMessage) const;
  // The system a result is saved with: its own, else the session's shapefile projection.
  std::string savedSystem(const Operand& result) const;
  // The .prj text a shapefile result gets: the loaded .prj it came from as it was, else its
  // system in the ESRI spelling, else the session's projection.
  std::string shapefileProjection(const Operand& result) const;
  FileStatus readRasterGrid(const std::string& path, int band, grid::Grid& grid) const;
  // The outcome of a raster read or open of an nx x ny band: its message, or its notices.
  FileStatus rasterStatus(const formats::RasterRead& read, const std::string& path, int band,
                          int nx, int ny) const;
  FileStatus saveGrid(const Operand& result, const std::string& path);
  FileStatus saveLines(const Operand& result, const std::string& path, FileKind kind);
  FileStatus saveData(const Operand& result, const std::string& path);
  // A shapefile as a table, with the status of the data file reader; faultRecord receives the
  // 1-based record at fault of a damaged file (0 when unknown).
  data::ReadStatus readShapefileTable(const std::string& path, data::M_Data& table,
                                      std::int64_t& faultRecord) const;
  DataSlot* loadedDataSlot(const std::string& path);
  // Notes the .prj of a shapefile just loaded for sessionProjection.
  void noteProjection(const std::string& path);
  void registerOperand(const std::string& name, const std::string& path, Operand operand);
  // Re-registers a saved result when path is a loaded file of the kind.
  void refreshLoaded(FileKind kind, const std::string& path, const Operand& result);
  const char* text(const MessageText& message) const { return message.in(calc_.language()); }
  // Every change of the workspace or of its operands happens between evaluations (debug check).
  void assertNoEvaluation() const { calc_.registry().assertNoOtherEvaluation(); }
  // The progress and cancel of the calculator's sink for the rows of one file read or written.
  RowProgress fileProgress() const;
  FileStatus cancelled() const;
  // The save message of a kind for a target that is a stream, where the format needs files.
  FileStatus needsFiles(const MessageText& saveMessage) const;
  // message followed by the place of its fault (place with number), when number is known (> 0).
  std::string placed(const char* message, const MessageText& place, std::int64_t number) const;
  // Runs a command; memory running out in it gives the out-of-memory message. Closes the
  // progress its file's rows opened.
  template <class Command>
  FileStatus guarded(Command&& command) const;

  S_Calculator& calc_;
  std::array<std::vector<std::string>, 3> paths_;
  std::vector<DataSlot> dataSlots_;
  std::string projection_;
  bool projectionsDiffer_ = false;
  formats::RasterWriteOptions rasterOptions_;
};

}  // namespace vellumar::engine
