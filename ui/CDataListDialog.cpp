#include "ui/CDataListDialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/CFormat.h"
#include "engine/Workspace.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui {

CDataListDialog::CDataListDialog(engine::Workspace& workspace, int slot, UserDialogs& dialogs,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), workspace_(workspace), slot_(slot), dialogs_(dialogs) {
  setWindowTitle(QStringLiteral("Файл данных"));
  counts_ = new QLabel(this);
  path_ = new QLabel(this);
  path_->setWordWrap(true);
  auto* coordinates = new QGroupBox(QStringLiteral("Столбы координат"), this);
  x_ = new QLineEdit(coordinates);
  y_ = new QLineEdit(coordinates);
  auto* coordinateLayout = new QFormLayout(coordinates);
  coordinateLayout->addRow(QStringLiteral("X :"), x_);
  coordinateLayout->addRow(QStringLiteral("Y :"), y_);
  connect(x_, &QLineEdit::textChanged, this, &CDataListDialog::storeCoordinates);
  connect(y_, &QLineEdit::textChanged, this, &CDataListDialog::storeCoordinates);

  columns_ = new QListWidget(this);
  connect(columns_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { chooseColumn(columns_->row(item)); });
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(counts_);
  layout->addWidget(path_);
  layout->addWidget(coordinates);
  layout->addWidget(new QLabel(QStringLiteral("Столбцы данных:"), this));
  layout->addWidget(columns_);
  layout->addLayout(buttons);
  resize(380, 420);
}

void CDataListDialog::showLoadedTable() {
  const data::CoordinateColumns xy = workspace_.dataSlot(slot_).xy;
  if (xy.present) {
    setCoordinateTexts(QString::number(xy.x), QString::number(xy.y));
  } else {
    setCoordinateTexts(QString(), QString());
  }
  refresh();
}

void CDataListDialog::refresh() {
  const engine::DataSlot& data = workspace_.dataSlot(slot_);
  const data::M_Data& table = data.table;
  counts_->setText(QString::fromStdString(
      cformat("Всего: строк  %d,  столбцов  %d", table.rowCount(), table.columnCount())));
  path_->setText(QString::fromStdString(data.path));
  const bool named = table.options().hasHeader || engine::Workspace::isLayerPath(data.path);
  columns_->clear();
  for (int c = 1; c <= table.columnCount(); ++c) {
    const std::string entry =
        named ? cformat("D%d_%d      %s", slot_, c, table.columnName(c - 1).c_str())
              : cformat("D%d_%d      %d", slot_, c, c);
    columns_->addItem(QString::fromStdString(entry));
  }
}

void CDataListDialog::setCoordinateTexts(const QString& x, const QString& y) {
  x_->setText(x);
  y_->setText(y);
  storeCoordinates();
}

void CDataListDialog::storeCoordinates() {
  workspace_.dataSlot(slot_).xy =
      data::coordinateColumnsFromText(x_->text().toStdString(), y_->text().toStdString());
}

QString CDataListDialog::countsText() const {
  return counts_->text();
}

QStringList CDataListDialog::entries() const {
  QStringList texts;
  for (int i = 0; i < columns_->count(); ++i) texts << columns_->item(i)->text();
  return texts;
}

void CDataListDialog::chooseColumn(int row) {
  if (row < 0 || row >= columns_->count()) return;
  std::string name;
  const engine::FileStatus status = workspace_.registerColumn(slot_, row + 1, &name);
  if (!status.ok) {
    dialogs_.message(this, QString::fromStdString(status.message), UserDialogs::Icon::Stop);
    return;
  }
  emit nameChosen(QString::fromStdString(name));
}

void CDataListDialog::closeEvent(QCloseEvent* event) {
  workspace_.closeDataSlot(slot_);
  hide();
  event->ignore();
}

}  // namespace vellumar::ui
