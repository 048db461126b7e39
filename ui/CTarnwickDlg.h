#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Calculator.h"
#include "engine/Workspace.h"
#include "ui/CInputDbfDialog.h"
#include "ui/DataFileProc.h"
#include "ui/DisplayEditor.h"
#include "ui/EvaluationRunner.h"
#include "ui/FileCommands.h"
#include "ui/InputHistory.h"
#include "ui/ToolWindows.h"

class QAbstractButton;
class QCheckBox;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace vellumar::ui {

// The calculator window: the display ("табло") where statements are typed or assembled with the
// keypad and function buttons, the message line for hints, results and errors, and the commands
// that evaluate, reset, load and save operands, and open the help, history and identifier
// windows. It owns the evaluator, the operand files (Workspace) and the current result, which
// only a successful evaluation replaces. Evaluations run in a worker thread; the window stays
// responsive and offers to cancel a long one. Every modal interaction goes through UserDialogs.
// Its parts do the rest: the display and its keys (DisplayEditor), the file commands
// (FileCommands) and the tool windows (ToolWindows); its slots are theirs.
class CTarnwickDlg : public QWidget {
  Q_OBJECT

 public:
  // startDirectory is the working directory at start-up; the input history lives there.
  CTarnwickDlg(UserDialogs& dialogs, const QString& startDirectory, QWidget* parent = nullptr);
  ~CTarnwickDlg() override;

  QPlainTextEdit* display() const { return editor_->display(); }
  QString messageText() const;
  // The colour of the message line's text: red for an error, the normal colour otherwise.
  QColor messageColor() const;
  // The keypad or command button with that caption (null when there is none).
  QAbstractButton* button(const QString& caption) const;

  engine::S_Calculator& calculator() { return calc_; }
  engine::Workspace& workspace() { return workspace_; }
  const engine::Operand& currentResult() const { return currentResult_; }
  InputHistory& history() { return history_; }
  const DataFormat& dataFormat() const { return files_->dataFormat(); }
  EvaluationRunner& evaluationRunner() { return *runner_; }
  bool isEvaluating() const { return runner_->running(); }
  void setDbfFieldLister(DbfFieldLister lister) { files_->setDbfFieldLister(std::move(lister)); }

  FileListWindow* fileListWindow(engine::FileKind kind) const;
  CDataListDialog* dataWindow(int slot) const;
  ViewValues* viewValues() const;
  HistoryWindow* historyWindow() const;
  HelpWindow* helpWindow() const;
  // The open map view, or null.
  mapview::CRVWnd* mapView() const;

 public slots:
  // Replaces the display's selection with text (undoable) and leaves the caret after it.
  void insertAtCaret(const QString& text);
  // Replaces the whole display text (undoable), as choosing a history entry does.
  void replaceDisplay(const QString& text);
  // A keypad or function button: inserts its text and shows its argument hint.
  void pressKey(const QString& caption);
  void evaluate();
  // The worker's evaluation by record: the display text once per record of layer.
  bool evaluateByRecord(engine::S_Calculator& calc, const std::string& layer, std::string& text);
  void resetDisplay();
  void deleteLastCharacter();
  void loadFile(engine::FileKind kind);
  void loadData();
  // Loads files as dropped on the window, one after another, each by its extension: ".grd" a
  // grid, ".con"/".lin" lines, ".pol" a polygon, ".dat"/".txt"/".csv" data (through the format
  // dialog), ".shp" lines, a polygon or data as the user chooses.
  void loadDroppedFiles(const QStringList& paths);
  void saveCurrentResult();
  void saveOperand(const engine::Operand& operand);
  void showIdentifiers();
  // "Вид": shows the current result in the map view.
  void showView();
  // Shows an operand in a new map view, replacing the open one (a number is saved instead, as
  // "Сохранить" does; data without coordinates cannot be shown). The view lists every named
  // operand it can draw as a layer, the one of that name (or the unnamed result) checked.
  void showInView(const engine::Operand& operand, const std::string& name = {});
  void showHistory();
  void loadDisplay();
  void saveDisplay();
  void showHelp();
  void showAbout();

 signals:
  // An evaluation ended (successfully or not) and the message line shows its outcome.
  void evaluationFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The display, the message line, the commands and the keys, in the window's layout.
  void buildContent();
  // The file commands and the tool windows, wired to the display and to each other.
  void buildParts();
  QWidget* buildCommands();
  // The radio buttons of angles and length units, in the command grid.
  void buildUnits(QWidget* box, QGridLayout* grid);
  // "По объектам" and its layer, in the command grid.
  void buildByRecord(QWidget* box, QGridLayout* grid);
  void onEvaluationFinished(bool ok, const QString& text);
  void setBusy(bool busy);
  void showMessage(const QString& text, bool error) { editor_->showMessage(text, error); }
  // Runs a load or save in the worker thread (see EvaluationRunner::runTask); false when the
  // user cancelled it or closed the window meanwhile.
  // The progress dialog names file, the file loaded or saved (none when empty).
  bool runFileTask(const MessageText& caption, const std::string& file, std::function<void()> work);
  // Asks whether to stop the running work and close (once); true when the user said so.
  bool stopRunToClose();

  UserDialogs& dialogs_;
  engine::S_Calculator calc_;
  engine::Workspace workspace_{calc_};
  engine::Operand currentResult_;
  InputHistory history_;
  std::unique_ptr<EvaluationRunner> runner_;
  bool closePending_ = false;

  QWidget* content_ = nullptr;
  // The parts, children of the window.
  DisplayEditor* editor_ = nullptr;
  ToolWindows* tools_ = nullptr;
  FileCommands* files_ = nullptr;
  QRadioButton* radians_ = nullptr;
  QRadioButton* kilometres_ = nullptr;
  // "По объектам": the display text is evaluated once per record of the layer named beside it.
  QCheckBox* byRecord_ = nullptr;
  QLineEdit* recordLayer_ = nullptr;
  // The records whose evaluation failed in the last run by record ("number<tab>message"), set by
  // the worker thread, read once it has finished.
  std::vector<std::string> recordFailures_;
};

}  // namespace vellumar::ui
