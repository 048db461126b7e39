#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace vellumar::ui {

// What a file dialog shows: its title, the extension added to a name typed without one, and the
// filter in Qt's "description (patterns);;..." form.
struct FileDialogSetup {
  QString title;
  QString defaultSuffix;
  QString filter;
  QString folder;  // the folder the dialog starts in; empty for the default
  // The settings key that remembers the folder last used for this kind of file; empty for none.
  QString folderKey;
  // Save dialogs ask before overwriting unless the caller asks its own question.
  bool confirmOverwrite = true;
};

// Every modal interaction of the program with the user goes through this interface: file
// dialogs, message boxes, the yes/no question and the program's own modal dialogs. The window
// gets the Qt implementation; tests give their own, so no modal dialog ever waits in a test.
class UserDialogs {
 public:
  enum class Icon { Stop, Information, Question };

  virtual ~UserDialogs() = default;
  // The chosen existing file, or an empty text when the user cancelled.
  virtual QString openFile(QWidget* parent, const FileDialogSetup& setup) = 0;
  // The chosen file to write (overwriting confirmed), or an empty text when cancelled.
  virtual QString saveFile(QWidget* parent, const FileDialogSetup& setup) = 0;
  // A message box captioned "Vellumar".
  virtual void message(QWidget* parent, const QString& text, Icon icon) = 0;
  // A Yes/No question with the icon (the stop icon for a warning); false only when the answer
  // is No.
  virtual bool question(QWidget* parent, const QString& text, Icon icon) = 0;
  // Runs one of the program's modal dialogs; true when the user accepted it.
  virtual bool runDialog(QDialog& dialog) = 0;
  // A short choice among a few answers; the index of the one chosen, or -1 when cancelled.
  virtual int choose(QWidget* parent, const QString& text, const QStringList& answers) = 0;
  // A whole number from first to last, or -1 when cancelled.
  virtual int chooseNumber(QWidget* parent, const QString& text, int first, int last) = 0;
  // One of a list of names (the layers of a file), by its index; -1 when cancelled.
  virtual int chooseItem(QWidget* parent, const QString& text, const QStringList& items) = 0;
};

// The interactive implementation: Qt's file dialogs, message boxes and QDialog::exec.
class QtUserDialogs final : public UserDialogs {
 public:
  QString openFile(QWidget* parent, const FileDialogSetup& setup) override;
  QString saveFile(QWidget* parent, const FileDialogSetup& setup) override;
  void message(QWidget* parent, const QString& text, Icon icon) override;
  bool question(QWidget* parent, const QString& text, Icon icon) override;
  bool runDialog(QDialog& dialog) override;
  int choose(QWidget* parent, const QString& text, const QStringList& answers) override;
  int chooseNumber(QWidget* parent, const QString& text, int first, int last) override;
  int chooseItem(QWidget* parent, const QString& text, const QStringList& items) override;
};

// The extension of a file filter's first pattern ("GeoTIFF (*.tif *.tiff)" gives "tif"); empty
// for a filter of every file.
QString filterExtension(const QString& filter);

// Shows the file dialog of setup (a save dialog when save is true). It starts in the folder last
// used for the setup's kind of file, and remembers the folder of the file chosen, across runs.
QString chooseFile(UserDialogs& dialogs, QWidget* parent, FileDialogSetup setup, bool save);

}  // namespace vellumar::ui
