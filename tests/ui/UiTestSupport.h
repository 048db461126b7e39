#pragma once

#include <QDialog>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/CTarnwickDlg.h"
#include "ui/DataFileProc.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui::testing {

using namespace Qt::StringLiterals;
using engine::FileKind;

// Stands in for every modal interaction: file choices come from a queue, message boxes and
// questions are recorded, the program's own dialogs are handed to a test callback.
class FakeDialogs final : public UserDialogs {
 public:
  struct Shown {
    QString text;
    Icon icon;
  };

  std::deque<QString> files;  // next answers of file dialogs ("" = cancel)
  std::vector<FileDialogSetup> fileDialogs;
  std::vector<Shown> messages;
  std::vector<QString> questions;
  std::vector<Icon> questionIcons;        // the icon of each question
  std::vector<QWidget*> questionParents;  // the window each question was asked above
  bool answer = true;
  std::function<bool(QDialog&)> onDialog;  // default: cancel

  QString openFile(QWidget*, const FileDialogSetup& setup) override { return next(setup); }
  QString saveFile(QWidget*, const FileDialogSetup& setup) override { return next(setup); }
  void message(QWidget*, const QString& text, Icon icon) override {
    messages.push_back({text, icon});
  }
  bool question(QWidget* parent, const QString& text, Icon icon) override {
    questions.push_back(text);
    questionIcons.push_back(icon);
    questionParents.push_back(parent);
    return answer;
  }
  bool runDialog(QDialog& dialog) override { return onDialog ? onDialog(dialog) : false; }
  int choose(QWidget*, const QString& text, const QStringList& answers) override {
    choices.push_back(text + " " + answers.join(QLatin1Char('/')));
    return chosen;
  }
  int chooseNumber(QWidget*, const QString& text, int first, int last) override {
    choices.push_back(text + QStringLiteral(" %1…%2").arg(first).arg(last));
    return chosenNumber;
  }
  int chooseItem(QWidget*, const QString& text, const QStringList& items) override {
    choices.push_back(text + " " + items.join(QLatin1Char('/')));
    return chosenItem;
  }
  std::vector<QString> choices;  // the questions of short choices, with their answers or range
  int chosen = -1;
  int chosenNumber = -1;
  int chosenItem = -1;

  QString lastMessage() const { return messages.empty() ? QString() : messages.back().text; }

 private:
  QString next(const FileDialogSetup& setup);
};

// Writes bytes to a file and returns its path.
QString writeFile(const QString& path, const std::string& bytes);

// A window in a scratch start-up directory, with its fake dialogs.
struct WindowFixture {
  WindowFixture();
  ~WindowFixture();

  QString path(const QString& name) const { return dir.filePath(name); }
  QPlainTextEdit* display() const { return window->display(); }
  engine::Registry& registry() const { return window->calculator().registry(); }
  QString lastMessage() const { return dialogs.lastMessage(); }
  // The file an operand of the registry was loaded from.
  QString sourceOf(const char* name) const {
    return QString::fromStdString(registry().find(name)->value.sourcePath());
  }
  // Writes bytes to a file of the scratch directory and returns its path.
  QString write(const QString& name, const std::string& bytes) const;
  std::string read(const QString& name) const;
  // Types text into the display, evaluates it and waits for the outcome.
  QString evaluate(const QString& text);
  // The actions below that answer a file dialog return lastMessage() after them.
  // Loads a file of a numbered kind as the user does, choosing path in the file dialog.
  QString load(engine::FileKind kind, const QString& path);
  void press(const QString& caption);
  // Presses a button whose file dialog the user answers with path.
  QString pressChoosing(const QString& caption, const QString& path);
  // Saves the result as the user does, choosing path in the file dialog.
  QString save(const QString& path);
  // Evaluates text and saves the result as the file name of the scratch directory.
  QString evaluateAndSave(const QString& text, const QString& name);
  // Loads a data file as the user does, choosing path in the file dialog.
  QString loadData(const QString& path);
  // Answers every data-format dialog from now on with the format, accepted.
  void answerDataFormat(const DataFormat& format);

  QTemporaryDir dir;
  FakeDialogs dialogs;
  std::unique_ptr<CTarnwickDlg> window;
};

// Small files of every kind.
std::string gridFile();  // 3 x 3 DSAA grid over [0, 2] x [0, 2], nodes 1..9
std::string squareFile(double side, double gap = 0);  // one ring; gap > 0 leaves it open
std::string dataFile();                               // header "X Y Z", 3 rows, space delimited

// A 3 × 3 ESRI ASCII grid with one no-data node, 100 m cells, in UTM zone 32 (its .prj beside
// it); its path.
QString writeAsciiRaster(WindowFixture& f);

}  // namespace vellumar::ui::testing
