#include "ui/FileCommands.h"

#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <QWidget>

#include "common/CFormat.h"
#include "common/DisplayFile.h"
#include "data/DataMessages.h"
#include "engine/EngineMessages.h"
#include "engine/ResultText.h"
#include "formats/FormatMessages.h"
#include "formats/VectorFile.h"
#include "ui/CDataListDialog.h"
#include "ui/DisplayEditor.h"
#include "ui/FileDialogs.h"
#include "ui/QtText.h"
#include "ui/UiMessages.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui {
namespace {

using engine::FileKind;

// The extensions a dropped file loads as a grid by: DSAA and the rasters read through GDAL.
bool isGridSuffix(const QString& suffix) {
  static const QStringList kGridSuffixes = {
      QStringLiteral("grd"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("asc"),
      QStringLiteral("nc"),  QStringLiteral("img"), QStringLiteral("vrt")};
  return kGridSuffixes.contains(suffix);
}

QString fileName(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).fileName();
}

}  // namespace

FileCommands::FileCommands(QWidget* window, UserDialogs& dialogs, engine::S_Calculator& calc,
                           engine::Workspace& workspace, DisplayEditor& editor, ToolWindows& tools,
                           FileTaskRunner runFileTask, std::function<bool()> closing,
                           std::function<bool()> busy)
    : QObject(window),
      window_(window),
      dialogs_(dialogs),
      calc_(calc),
      workspace_(workspace),
      editor_(editor),
      tools_(tools),
      runFileTask_(std::move(runFileTask)),
      closing_(std::move(closing)),
      busy_(std::move(busy)) {}

engine::FileStatus FileCommands::outOfMemory() const {
  return engine::FileStatus::failure(engine::text::kOutOfMemory.in(language()));
}

void FileCommands::stop(const std::string& message) {
  dialogs_.message(window_, QString::fromStdString(message), UserDialogs::Icon::Stop);
}

void FileCommands::stopNamingFile(const std::string& message, const std::string& path) {
  stop(message.find(path) == std::string::npos ? message + "\n" + path : message);
}

// --- operand files ---

void FileCommands::loadFile(FileKind kind) {
  const QString chosen = chooseFile(dialogs_, window_, loadDialogSetup(kind), false);
  if (!chosen.isEmpty()) loadOperandFile(kind, chosen.toStdString());
}

void FileCommands::loadOperandFile(FileKind kind, const std::string& file) {
  // The layer of a file of several is part of the operand's path: "file.gpkg:layer".
  const std::string path = kind == FileKind::Grid ? file : chooseLayer(file);
  if (path.empty()) return;
  if (const engine::FileStatus loaded = workspace_.checkNotLoaded(kind, path); !loaded.ok) {
    stop(loaded.message);
    return;
  }
  std::string valueField;
  if (!chooseValueField(kind, path, valueField)) return;
  const int band = kind == FileKind::Grid ? chooseBand(path) : 1;
  if (band < 1) return;
  engine::Operand operand;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory();
  const bool completed =
      runFileTask_(text::kLoading, path, [this, kind, &path, &valueField, band, &operand, &status] {
        status = workspace_.read(kind, path, valueField, operand, band);
      });
  // A cancelled load registers nothing, even when the reader finished.
  if (!completed) return;
  if (!status.ok) {
    stopNamingFile(status.message, path);
    return;
  }
  workspace_.addLoaded(kind, path, std::move(operand));
  // A load that succeeded with a warning (no value file, Z values left out) says so.
  if (!status.message.empty()) editor_.showMessage(fromUtf8(status.message), true);
  tools_.showFileList(kind);
  tools_.refreshIdentifiers();
}

bool FileCommands::chooseValueField(FileKind kind, const std::string& path,
                                    std::string& valueField) {
  if (kind == FileKind::Grid || !engine::Workspace::isLayerPath(path)) return true;
  // A layer that cannot be read says so at once, before its fields are asked for.
  if (const engine::FileStatus opens = workspace_.checkLayerOpens(kind, path); !opens.ok) {
    stopNamingFile(opens.message, path);
    return false;
  }
  CInputDbfDialog fields(path, dbfFields_, window_);
  if (dialogs_.runDialog(fields)) valueField = fields.chosenField();
  return true;
}

std::string FileCommands::chooseLayer(const std::string& path) {
  if (engine::Workspace::isShapefilePath(path) || !formats::readsAsVector(path) ||
      !formats::splitLayerPath(path).layer.empty()) {
    return path;
  }
  const std::vector<std::string> layers = formats::vectorLayers(path);
  // A file of one layer, or one GDAL cannot open, is read as it is, so the load says why.
  if (layers.size() <= 1) return path;
  QStringList items;
  for (const std::string& layer : layers) items << QString::fromStdString(layer);
  const std::string name = fileName(path).toStdString();
  const int chosen = dialogs_.chooseItem(
      window_,
      QString::fromStdString(cformat(formats::text::kLayerQuestion.in(language()), name.c_str(),
                                     static_cast<int>(layers.size()))),
      items);
  if (chosen < 0) return {};
  return path + ":" + layers[static_cast<std::size_t>(chosen)];
}

int FileCommands::chooseBand(const std::string& path) {
  const int bands = engine::Workspace::gridBandCount(path);
  // A file GDAL cannot open reads as band 1, so the load reports why it fails.
  if (bands <= 1) return 1;
  const std::string name = fileName(path).toStdString();
  return dialogs_.chooseNumber(
      window_,
      QString::fromStdString(
          cformat(formats::text::kBandQuestion.in(language()), name.c_str(), bands)),
      1, bands);
}

// --- data files ---

bool FileCommands::dataFileLoaded(const std::string& path) {
  for (int slot = 1; slot <= workspace_.dataSlotCount(); ++slot) {
    if (workspace_.dataSlot(slot).path == path) return true;
  }
  return false;
}

void FileCommands::loadData() {
  const QString chosen = chooseFile(dialogs_, window_, loadDataDialogSetup(), false);
  if (!chosen.isEmpty()) loadDataFile(chosen.toStdString());
}

void FileCommands::loadDataFile(const std::string& file) {
  const std::string path = chooseLayer(file);
  if (path.empty()) return;
  if (dataFileLoaded(path)) {
    stop(data::text::kAlreadyLoaded.in(language()));
    return;
  }
  data::ReadOptions options;
  const bool shapefile = engine::Workspace::isShapefilePath(path);
  // A layer's table has its columns from the layer, not from a text format.
  if (!engine::Workspace::isLayerPath(path) && !chooseReadOptions(path, options)) return;
  data::M_Data table;
  std::string system;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory();
  const bool completed =
      runFileTask_(text::kLoading, path, [this, &path, &options, &table, &system, &status] {
        status = workspace_.readDataTable(path, options, table, &system);
      });
  if (!completed) return;
  if (!status.ok) {
    // A shapefile that cannot be converted loads nothing, silently.
    if (!shapefile) stopNamingFile(status.message, path);
    return;
  }
  // A load that succeeded with a warning (Z values left out) says so.
  if (!status.message.empty()) editor_.showMessage(fromUtf8(status.message), true);
  const int slot = workspace_.storeDataTable(path, std::move(table), std::move(system));
  CDataListDialog* window = tools_.dataWindowFor(slot);
  window->showLoadedTable();
  window->show();
  window->raise();
}

bool FileCommands::chooseReadOptions(const std::string& path, data::ReadOptions& options) {
  std::string head;
  if (!readDataHead(path, head)) {
    stop(cformat(data::text::kCannotOpen.in(language()), path.c_str()));
    return false;
  }
  DataFileProc format(dataFormat_, fileName(path), window_);
  format.setFileHead(std::move(head));
  if (!dialogs_.runDialog(format)) return false;
  dataFormat_ = format.format();
  if (!dataFormat_.readOptions(options)) {
    stop(data::text::kBadDelimiter.in(language()));
    return false;
  }
  return true;
}

// --- dropped files ---

void FileCommands::loadDroppedFiles(const QStringList& paths) {
  for (const QString& path : paths) {
    if (closing_() || busy_()) return;
    loadDroppedFile(path);
  }
}

void FileCommands::loadDroppedFile(const QString& path) {
  const std::string file = path.toStdString();
  const QString suffix = QFileInfo(path).suffix().toLower();
  const std::string name = QFileInfo(path).fileName().toStdString();
  if (isGridSuffix(suffix)) {
    loadOperandFile(FileKind::Grid, file);
  } else if (suffix == QLatin1String("con") || suffix == QLatin1String("lin")) {
    loadOperandFile(FileKind::Lines, file);
  } else if (suffix == QLatin1String("pol")) {
    loadOperandFile(FileKind::Polygon, file);
  } else if (suffix == QLatin1String("dat") || suffix == QLatin1String("txt") ||
             suffix == QLatin1String("csv")) {
    loadDataFile(file);
  } else if (suffix == QLatin1String("shp") || engine::Workspace::isLayerPath(file)) {
    const QStringList answers = {fromUtf8(text::kAsLines.in(language())),
                                 fromUtf8(text::kAsPolygons.in(language())),
                                 fromUtf8(text::kAsData.in(language()))};
    switch (dialogs_.choose(
        window_,
        QString::fromStdString(cformat(text::kShapefileKindQuestion.in(language()), name.c_str())),
        answers)) {
      case 0:
        loadOperandFile(FileKind::Lines, file);
        break;
      case 1:
        loadOperandFile(FileKind::Polygon, file);
        break;
      case 2:
        loadDataFile(file);
        break;
      default:
        break;
    }
  } else {
    stop(cformat(text::kUnknownFileType.in(language()), name.c_str()));
  }
}

QStringList FileCommands::droppable(const QMimeData* mime) const {
  QStringList files;
  if (busy_() || mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  return files;
}

// --- saves ---

void FileCommands::saveOperand(const engine::Operand& operand) {
  if (operand.isNumber()) {
    editor_.showMessage(QString::fromStdString(engine::formatResultNumber(operand.numberValue())),
                        false);
    dialogs_.message(window_, QString::fromUtf8(engine::text::kNumberInTextField.in(language())),
                     UserDialogs::Icon::Information);
    return;
  }
  const QString chosen = chooseFile(dialogs_, window_, saveDialogSetup(operand.kind()), true);
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  if (operand.kind() == engine::Kind::Data && !confirmDataSave(path)) return;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory();
  const bool completed = runFileTask_(text::kSaving, path, [this, &operand, &path, &status] {
    status = workspace_.save(operand, path);
  });
  // When the window is closing, a save that ran to its end stays, but nothing more is shown.
  if (!closing_()) reportSave(status, completed, path);
}

void FileCommands::reportSave(const engine::FileStatus& status, bool completed,
                              const std::string& path) {
  if (!status.ok) {
    // A save the user cancelled leaves the old file; it needs no message box. A data file that
    // another program changed since its load is named, since the message does not say which.
    if (!completed) return;
    if (status.message == data::text::kDataChanged.in(language())) {
      stopNamingFile(status.message, path);
    } else {
      stop(status.message);
    }
    return;
  }
  // A save that left something out (rings too small for the file's digits) says so.
  if (!status.message.empty()) editor_.showMessage(fromUtf8(status.message), true);
  // A column appended to a loaded data file shows in its window.
  tools_.refreshDataWindows();
  tools_.refreshIdentifiers();
}

bool FileCommands::confirmDataSave(const std::string& path) {
  const QFileInfo file(QString::fromStdString(path));
  const std::string name = file.fileName().toStdString();
  const bool shapefile = engine::Workspace::isShapefilePath(path);
  if (dataFileLoaded(path)) {
    // A loaded shapefile is refused by the save itself; a loaded table gains a column.
    return shapefile ||
           dialogs_.question(window_,
                             QString::fromStdString(
                                 cformat(text::kAppendZresQuestion.in(language()), name.c_str())),
                             UserDialogs::Icon::Question);
  }
  if (!file.exists()) return true;
  return dialogs_.question(
      window_, QString::fromStdString(cformat(text::kReplaceQuestion.in(language()), name.c_str())),
      UserDialogs::Icon::Stop);
}

// --- the display's text ---

void FileCommands::loadDisplay() {
  const QString path = chooseFile(dialogs_, window_, loadDisplayDialogSetup(), false);
  if (path.isEmpty()) return;
  const std::string file = path.toStdString();
  std::string text;
  // Stays a failure when the work does not run to its end (memory running out on the worker).
  const MessageText* failure = &engine::text::kOutOfMemory;
  if (!runFileTask_(text::kLoading, file, [&] { failure = engine::readDisplayText(file, text); })) {
    return;
  }
  if (failure != nullptr) {
    stop(failure->in(language()));
    return;
  }
  editor_.insertAtCaret(QString::fromStdString(text));
}

void FileCommands::saveDisplay() {
  const QString path = chooseFile(dialogs_, window_, saveDisplayDialogSetup(), true);
  if (path.isEmpty()) return;
  const std::string file = path.toStdString();
  const std::string text = editor_.display()->toPlainText().toStdString();
  bool saved = false;
  if (!runFileTask_(text::kSaving, file, [&] { saved = writeDisplayFile(file, text); })) return;
  if (!saved) stop(text::kCannotSaveDisplay.in(language()));
}

}  // namespace vellumar::ui
