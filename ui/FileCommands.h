#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <string>

#include "engine/Calculator.h"
#include "engine/Workspace.h"
#include "ui/CInputDbfDialog.h"
#include "ui/DataFileProc.h"
#include "ui/ToolWindows.h"

class QMimeData;
class QWidget;

namespace vellumar::ui {

class DisplayEditor;
class UserDialogs;

// The calculator window's file commands: loading operand files (asking for the layer of a file
// of several, the value field of a layer, the band of a raster) and data files (through the
// format dialog), loading the files dropped on the window by their extension, saving results and
// saving and loading the display's text. The reads and writes run in the worker thread through
// the window's file task; a failure shows its message box, naming the file when the message does
// not. Loaded files show in their list or data window.
class FileCommands : public QObject {
  Q_OBJECT

 public:
  // closing says whether the window is closing; busy whether the worker is taken.
  FileCommands(QWidget* window, UserDialogs& dialogs, engine::S_Calculator& calc,
               engine::Workspace& workspace, DisplayEditor& editor, ToolWindows& tools,
               FileTaskRunner runFileTask, std::function<bool()> closing,
               std::function<bool()> busy);

  const DataFormat& dataFormat() const { return dataFormat_; }
  void setDbfFieldLister(DbfFieldLister lister) { dbfFields_ = std::move(lister); }

  // Asks for a file of the kind and loads it.
  void loadFile(engine::FileKind kind);
  void loadOperandFile(engine::FileKind kind, const std::string& path);
  // Asks for a data file and loads it.
  void loadData();
  void loadDataFile(const std::string& path);
  // Loads dropped files one after another, each by its extension: ".grd" and the rasters a
  // grid, ".con"/".lin" lines, ".pol" a polygon, ".dat"/".txt"/".csv" data (through the format
  // dialog), ".shp" and vector layers lines, a polygon or data as the user chooses.
  void loadDroppedFiles(const QStringList& paths);
  // The local files a drag carries, when the window may take them now.
  QStringList droppable(const QMimeData* mime) const;
  // Saves an operand to a file the user chooses; a number shows on the message line instead.
  void saveOperand(const engine::Operand& operand);
  void loadDisplay();
  void saveDisplay();

 private:
  // The band of a grid file to read: 1 for a file of one band, else the user's choice; -1 when
  // the user cancelled.
  int chooseBand(const std::string& path);
  // The path with the layer the user chose when a vector file holds several ("file.gpkg:layer");
  // path itself for a file of one layer or a path that names its layer; empty when cancelled.
  std::string chooseLayer(const std::string& path);
  // The value field of a layer's lines, as the user chose it (empty for none); false when the
  // layer does not open, which was said.
  bool chooseValueField(engine::FileKind kind, const std::string& path, std::string& valueField);
  // The text format of a data file, from the format dialog; false when the user cancelled or
  // the file or the format is of no use, which was said.
  bool chooseReadOptions(const std::string& path, data::ReadOptions& options);
  void loadDroppedFile(const QString& path);
  // The outcome of a save: its message box, or its notice and the windows it changed.
  void reportSave(const engine::FileStatus& status, bool completed, const std::string& path);
  // Asks before a data result is written over an existing file; false when the user declines.
  bool confirmDataSave(const std::string& path);
  bool dataFileLoaded(const std::string& path);
  void stop(const std::string& message);
  // A load or save failure: the message, and the file when the message does not name it.
  void stopNamingFile(const std::string& message, const std::string& path);
  engine::FileStatus outOfMemory() const;
  Language language() const { return calc_.language(); }

  QWidget* window_;
  UserDialogs& dialogs_;
  engine::S_Calculator& calc_;
  engine::Workspace& workspace_;
  DisplayEditor& editor_;
  ToolWindows& tools_;
  FileTaskRunner runFileTask_;
  std::function<bool()> closing_;
  std::function<bool()> busy_;
  DataFormat dataFormat_;
  DbfFieldLister dbfFields_ = engine::Workspace::layerFields;
};

}  // namespace vellumar::ui
