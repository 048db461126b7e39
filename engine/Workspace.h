#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/DataColumnChoice.h"
#include "data/M_Data.h"
#include "engine/Calculator.h"
#include "engine/DataSlots.h"
#include "engine/FileMessages.h"
#include "engine/FileStatus.h"
#include "engine/GridLoader.h"
#include "engine/LineLoader.h"
#include "engine/LoadedFiles.h"
#include "engine/ResultSaver.h"
#include "engine/TableLoader.h"
#include "formats/RasterFile.h"
#include "formats/RasterWindows.h"
#include "formats/VectorFile.h"

namespace vellumar::engine {

// The operand files of one calculator: loads files of every kind into the registry under their
// generated names, remembers which paths are loaded (the duplicate check, the list windows) and
// saves results with the writer of their kind. Its mutators may run in any one thread, but never
// while an evaluation runs in another (asserted in debug builds). The window and the command line
// share it, so they name, refuse and report exactly alike. Memory running out during a load or a
// save (or a thread that cannot be started) fails that command with the out-of-memory message.
// It is the face of its parts: the loaders of each kind (GridLoader, LineLoader, TableLoader),
// the saver (ResultSaver), the loaded paths (LoadedFiles) and the data slots (DataSlots), which
// say what they say through one FileMessages.
class Workspace {
 public:
  explicit Workspace(S_Calculator& calc) : calc_(calc) {}
  // Its parts refer to each other.
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

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
  // The failure a read of a layer path (a shapefile, a vector file) gives before it reads any
  // feature: the file is missing, is no file of its format, or holds no such layer; success when
  // the layer opens, so that its value field may be asked for first.
  FileStatus checkLayerOpens(FileKind kind, const std::string& path) const;
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
  DataSlot& dataSlot(int slot) { return slots_.slot(slot); }
  int dataSlotCount() const { return slots_.count(); }
  // Closing a data window frees its slot; its operands stay registered.
  void closeDataSlot(int slot);

  // Saves a result with the writer of its kind. Saving over a loaded file of the same kind
  // registers the result under that file's name.
  FileStatus save(const Operand& result, const std::string& path);
  // How grids saved to raster formats (.tif, .asc, .nc, .img) are written: creation options and
  // the type of the values (Float64 unless set).
  void setRasterOptions(formats::RasterWriteOptions options) {
    saver_.setRasterOptions(std::move(options));
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
  S_Calculator& calc_;
  FileMessages messages_{calc_};
  LoadedFiles files_{calc_};
  DataSlots slots_{files_, messages_};
  GridLoader grids_{messages_};
  LineLoader lines_{messages_};
  TableLoader tables_{messages_};
  ResultSaver saver_{messages_, files_, slots_};
};

}  // namespace vellumar::engine
