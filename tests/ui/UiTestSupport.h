#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QObject>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CFormat.h"
#include "ui/CTarnwickDlg.h"
#include "ui/DataFileProc.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui::testing {

using namespace Qt::StringLiterals;
using engine::FileKind;
using TestFactory = std::function<std::unique_ptr<QObject>()>;

// Every test class of the program registers itself here (see VELLUMAR_UI_TEST).
inline std::vector<TestFactory>& testClasses() {
  static std::vector<TestFactory> classes;
  return classes;
}

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
    return chosen;
  }
  int chooseItem(QWidget*, const QString& text, const QStringList& items) override {
    return choose(nullptr, text, items);
  }
  std::vector<QString> choices;  // the questions of short choices, with their answers or range
  int chosen = -1;               // the answer to each of them (-1 = cancel)

  QString lastMessage() const { return messages.empty() ? QString() : messages.back().text; }

 private:
  QString next(const FileDialogSetup& setup) {
    fileDialogs.push_back(setup);
    if (files.empty()) return {};
    QString path = files.front();
    files.pop_front();
    return path;
  }
};

// Writes bytes to a file and returns its path.
inline QString writeFile(const QString& path, const std::string& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path;
}

// A window in a scratch start-up directory, with its fake dialogs.
struct WindowFixture {
  QString path(const QString& name) const { return dir->filePath(name); }
  QPlainTextEdit* display() const { return window->display(); }
  engine::Registry& registry() const { return window->calculator().registry(); }
  QString lastMessage() const { return dialogs.lastMessage(); }
  // The file an operand of the registry was loaded from.
  QString sourceOf(const char* name) const {
    return QString::fromStdString(registry().find(name)->value.sourcePath());
  }
  // Writes bytes to a file of the scratch directory and returns its path.
  QString write(const QString& name, const std::string& bytes) const {
    return writeFile(path(name), bytes);
  }
  std::string read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
  }
  // Types text into the display, evaluates it and waits for the outcome.
  QString evaluate(const QString& text) {
    window->display()->setPlainText(text);
    QSignalSpy finished(window.get(), &CTarnwickDlg::evaluationFinished);
    window->button(QStringLiteral("Расчет"))->click();
    if (finished.isEmpty() && window->isEvaluating()) finished.wait(30000);
    return window->messageText();
  }
  void press(const QString& caption) {
    QAbstractButton* button = window->button(caption);
    if (button == nullptr) QFAIL(qPrintable("no button " + caption));
    button->click();
  }
  // The actions below answer a file dialog with path and return lastMessage() after them.
  // Presses a button whose file dialog the user answers with path.
  QString pressChoosing(const QString& caption, const QString& path) {
    dialogs.files.push_back(path);
    press(caption);
    return lastMessage();
  }
  // Loads a file of a numbered kind as the user does.
  QString load(engine::FileKind kind, const QString& path) {
    static const char* const kButtons[] = {"Гриды", "Линии", "Полигоны"};
    return pressChoosing(QString::fromUtf8(kButtons[static_cast<int>(kind)]), path);
  }
  QString loadData(const QString& path) { return pressChoosing(u"Данные"_s, path); }
  QString save(const QString& path) { return pressChoosing(u"Сохранить"_s, path); }
  // Evaluates text and saves the result as the file name of the scratch directory.
  QString evaluateAndSave(const QString& text, const QString& name) {
    evaluate(text);
    return save(path(name));
  }
  // Answers every data-format dialog from now on with the format, accepted.
  void answerDataFormat(const DataFormat& format) {
    dialogs.onDialog = [format](QDialog& dialog) {
      dynamic_cast<DataFileProc&>(dialog).setFormat(format);
      return true;
    };
  }

  // A fresh window in a fresh scratch directory, with fresh dialogs (the test classes' init()).
  void reset() {
    window.reset();
    dir.emplace();
    dialogs = FakeDialogs();
    window = std::make_unique<CTarnwickDlg>(dialogs, dir->path());
  }

  std::optional<QTemporaryDir> dir{std::in_place};
  FakeDialogs dialogs;
  std::unique_ptr<CTarnwickDlg> window = std::make_unique<CTarnwickDlg>(dialogs, dir->path());
};

// Small files of every kind.
// A 3 x 3 DSAA grid over [0, 2] x [0, 2], nodes 1..9.
inline std::string gridFile() {
  return "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n1 9\r\n1 2 3\r\n4 5 6\r\n7 8 9\r\n";
}
// One ring; gap > 0 leaves it open.
inline std::string squareFile(double side, double gap = 0) {
  return cformat("1\n0 0\n0 %g\n%g %g\n%g 0\n%g 0\nEND\nEND\n", side, side, side, side, gap);
}
// Header "X Y Z", 3 rows, space delimited.
inline std::string dataFile() {
  return "X Y Z\n0 0 5\n1 1 7\n2 2 9\n";
}

}  // namespace vellumar::ui::testing

#define VELLUMAR_UI_TEST(Class)                                                                  \
  static const bool registered##Class =                                                          \
      (vellumar::ui::testing::testClasses().push_back([] { return std::make_unique<Class>(); }), \
       true)
