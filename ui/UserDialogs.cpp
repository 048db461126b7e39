#include "ui/UserDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace vellumar::ui {
namespace {

constexpr const char* kCaption = "Vellumar";

QString runFileDialog(QWidget* parent, const FileDialogSetup& setup, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, setup.title);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilter(setup.filter);
  dialog.setDefaultSuffix(setup.defaultSuffix);
  if (!setup.folder.isEmpty()) dialog.setDirectory(setup.folder);
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

void QtUserDialogs::message(QWidget* parent, const QString& text, Icon icon) {
  QMessageBox box(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::Information, kCaption,
                  text, QMessageBox::Ok, parent);
  box.exec();
}

bool QtUserDialogs::question(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, kCaption, text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  return box.exec() != QMessageBox::No;
}

bool QtUserDialogs::runDialog(QDialog& dialog) {
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vellumar::ui
