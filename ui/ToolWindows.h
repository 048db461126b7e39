#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <string>

#include "common/Language.h"
#include "engine/Calculator.h"
#include "engine/Workspace.h"

class QAbstractButton;
class QWidget;

namespace vellumar::ui {

namespace mapview {
class CRVWnd;
}

class CDataListDialog;
class FileListWindow;
class HelpWindow;
class HistoryWindow;
class InputHistory;
class UserDialogs;
class ViewValues;

// Runs a load or save in the worker thread with a progress dialog captioned caption and naming
// file; false when the user cancelled it or the window is closing.
using FileTaskRunner = std::function<bool(const MessageText& caption, const std::string& file,
                                          std::function<void()> work)>;

// The calculator window's tool windows, each made when first shown and shown again after: the
// lists of loaded files by kind, the windows of the data slots, the identifier values, the input
// history, the help and the map view. Names chosen in them go into the display. They refer to
// the evaluator and the workspace, so the window closes them (closeAll) before those go.
class ToolWindows : public QObject {
  Q_OBJECT

 public:
  ToolWindows(QWidget* window, UserDialogs& dialogs, engine::S_Calculator& calc,
              engine::Workspace& workspace, InputHistory& history, FileTaskRunner runFileTask);

  FileListWindow* fileList(engine::FileKind kind) const;
  CDataListDialog* dataWindow(int slot) const;
  ViewValues* viewValues() const;
  HistoryWindow* historyWindow() const;
  HelpWindow* helpWindow() const;
  mapview::CRVWnd* mapView() const;

  // Lists the loaded files of a kind.
  void showFileList(engine::FileKind kind);
  // The window of a data slot, made when there is none.
  CDataListDialog* dataWindowFor(int slot);
  // Shows the data slots' tables again (a column appended by a save).
  void refreshDataWindows();
  void refreshIdentifiers();
  void showIdentifiers();
  // The history window, read from its file in the worker; one at a time, its button disabled
  // while it is open.
  void showHistory(QAbstractButton* historyButton);
  void showHelp();
  // Shows an operand that is not a number in a new map view beside the window, replacing the
  // open one; data without coordinates cannot be shown. The view lists every named operand it
  // can draw as a layer, the one of that name (or the unnamed result) checked.
  void showInView(const engine::Operand& operand, const std::string& name);
  void closeAll();

 signals:
  // A name chosen in a list, a data window or the identifiers, for the display.
  void nameChosen(const QString& name);
  // A history entry chosen to replace the display.
  void entryChosen(const QString& text);

 private:
  QWidget* window_;
  UserDialogs& dialogs_;
  engine::S_Calculator& calc_;
  engine::Workspace& workspace_;
  InputHistory& history_;
  FileTaskRunner runFileTask_;

  QPointer<HelpWindow> helpWindow_;
  QPointer<HistoryWindow> historyWindow_;
  QPointer<ViewValues> viewValues_;
  QPointer<mapview::CRVWnd> mapView_;
  std::map<engine::FileKind, QPointer<FileListWindow>> fileLists_;
  std::map<int, QPointer<CDataListDialog>> dataWindows_;
};

}  // namespace vellumar::ui
