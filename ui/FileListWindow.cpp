#include "ui/FileListWindow.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/CFormat.h"

namespace vellumar::ui {
namespace {

const char* titleOf(engine::FileKind kind) {
  switch (kind) {
    case engine::FileKind::Grid:
      return "Файлы гридов";
    case engine::FileKind::Lines:
      return "Файлы линий";
    case engine::FileKind::Polygon:
      return "Файлы полигонов";
  }
  return "";
}

}  // namespace

FileListWindow::FileListWindow(engine::FileKind kind, QWidget* parent)
    : QWidget(parent, Qt::Window), kind_(kind) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8(titleOf(kind)));
  list_ = new QListWidget(this);
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  connect(list_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { chooseEntry(list_->row(item)); });
  // Closing the list restarts the numbering of the kind, however the window is closed.
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  resize(460, 220);
}

void FileListWindow::closeEvent(QCloseEvent* event) {
  emit closed(kind_);
  QWidget::closeEvent(event);
}

void FileListWindow::setPaths(const std::vector<std::string>& paths) {
  list_->clear();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string name = engine::Workspace::operandName(kind_, i + 1);
    list_->addItem(QString::fromStdString(cformat("%s   %s", name.c_str(), paths[i].c_str())));
  }
}

QStringList FileListWindow::entries() const {
  QStringList texts;
  for (int i = 0; i < list_->count(); ++i) texts << list_->item(i)->text();
  return texts;
}

void FileListWindow::chooseEntry(int row) {
  if (row < 0 || row >= list_->count()) return;
  emit nameChosen(QString::fromStdString(
      engine::Workspace::operandName(kind_, static_cast<std::size_t>(row) + 1)));
}

}  // namespace vellumar::ui
