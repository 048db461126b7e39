#include "ui/UserDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <algorithm>
#include <vector>

namespace vellumar::ui {
namespace {

constexpr const char* kCaption = "Vellumar";

}  // namespace

QString filterExtension(const QString& filter) {
  const qsizetype open = filter.indexOf(QLatin1String("(*."));
  if (open < 0) return {};
  const qsizetype start = open + 3;
  qsizetype end = start;
  while (end < filter.size() && filter[end] != QLatin1Char(' ') &&
         filter[end] != QLatin1Char(')')) {
    ++end;
  }
  const QString extension = filter.mid(start, end - start);
  return extension == QLatin1String("*") ? QString() : extension;
}

namespace {

QString runFileDialog(QWidget* parent, const FileDialogSetup& setup, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, setup.title);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilter(setup.filter);
  dialog.setDefaultSuffix(setup.defaultSuffix);
  // A save dialog of several formats gives a name typed without extension the chosen format's.
  if (mode == QFileDialog::AcceptSave) {
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &setup](const QString& filter) {
          const QString extension = filterExtension(filter);
          dialog.setDefaultSuffix(extension.isEmpty() ? setup.defaultSuffix : extension);
        });
  }
  if (!setup.folder.isEmpty()) dialog.setDirectory(setup.folder);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !setup.confirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

QString QtUserDialogs::openFile(QWidget* parent, const FileDialogSetup& setup) {
  return runFileDialog(parent, setup, QFileDialog::AcceptOpen);
}

QString QtUserDialogs::saveFile(QWidget* parent, const FileDialogSetup& setup) {
  return runFileDialog(parent, setup, QFileDialog::AcceptSave);
}

namespace {

QMessageBox::Icon boxIcon(UserDialogs::Icon icon) {
  switch (icon) {
    case UserDialogs::Icon::Stop:
      return QMessageBox::Critical;
    case UserDialogs::Icon::Question:
      return QMessageBox::Question;
    case UserDialogs::Icon::Information:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

void QtUserDialogs::message(QWidget* parent, const QString& text, Icon icon) {
  QMessageBox box(boxIcon(icon), kCaption, text, QMessageBox::Ok, parent);
  box.exec();
}

bool QtUserDialogs::question(QWidget* parent, const QString& text, Icon icon) {
  QMessageBox box(boxIcon(icon), kCaption, text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() != QMessageBox::No;
}

bool QtUserDialogs::runDialog(QDialog& dialog) {
  return dialog.exec() == QDialog::Accepted;
}

int QtUserDialogs::choose(QWidget* parent, const QString& text, const QStringList& answers) {
  QMessageBox box(QMessageBox::Question, kCaption, text, QMessageBox::NoButton, parent);
  std::vector<QAbstractButton*> buttons;
  for (const QString& answer : answers) {
    buttons.push_back(box.addButton(answer, QMessageBox::AcceptRole));
  }
  box.addButton(QMessageBox::Cancel);
  box.exec();
  const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
  return chosen == buttons.end() ? -1 : static_cast<int>(chosen - buttons.begin());
}

int QtUserDialogs::chooseNumber(QWidget* parent, const QString& text, int first, int last) {
  bool ok = false;
  const int chosen = QInputDialog::getInt(parent, kCaption, text, first, first, last, 1, &ok);
  return ok ? chosen : -1;
}

int QtUserDialogs::chooseItem(QWidget* parent, const QString& text, const QStringList& items) {
  bool ok = false;
  const QString chosen = QInputDialog::getItem(parent, kCaption, text, items, 0, false, &ok);
  return ok ? static_cast<int>(items.indexOf(chosen)) : -1;
}

QString chooseFile(UserDialogs& dialogs, QWidget* parent, FileDialogSetup setup, bool save) {
  QSettings settings;
  if (setup.folder.isEmpty() && !setup.folderKey.isEmpty()) {
    setup.folder = settings.value(setup.folderKey).toString();
  }
  const QString path = save ? dialogs.saveFile(parent, setup) : dialogs.openFile(parent, setup);
  if (!path.isEmpty() && !setup.folderKey.isEmpty()) {
    settings.setValue(setup.folderKey, QFileInfo(path).absolutePath());
  }
  return path;
}

}  // namespace vellumar::ui
