#include "ui/CDataListDialog.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "common/CFormat.h"
#include "data/DataFileWriter.h"
#include "engine/Workspace.h"
#include "ui/DataWindowMessages.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui {

namespace {

// The caption of a column: its name when the table has names, else its number.
QString columnCaption(const data::M_Data& table, int column, bool named) {
  return named ? QString::fromStdString(table.columnName(column)) : QString::number(column + 1);
}

// Whether the table's columns carry names: a header line, or a layer's fields.
bool namedColumns(const engine::DataSlot& data) {
  return data.table.options().hasHeader || engine::Workspace::isLayerPath(data.path);
}

}  // namespace

CDataListDialog::CDataListDialog(engine::Workspace& workspace, int slot, UserDialogs& dialogs,
                                 Language language, QWidget* parent)
    : QWidget(parent, Qt::Window),
      workspace_(workspace),
      slot_(slot),
      dialogs_(dialogs),
      language_(language) {
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

  valuesToggle_ = new QPushButton(QString::fromUtf8(text::kValuesButton.in(language_)), this);
  valuesToggle_->setCheckable(true);
  values_ = new QTableWidget(this);
  values_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  values_->hide();
  valuesNote_ = new QLabel(this);
  valuesNote_->hide();
  connect(valuesToggle_, &QPushButton::toggled, this, &CDataListDialog::showValues);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(valuesToggle_);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(counts_);
  layout->addWidget(path_);
  layout->addWidget(coordinates);
  layout->addWidget(new QLabel(QStringLiteral("Столбцы данных:"), this));
  layout->addWidget(columns_);
  layout->addWidget(values_, 1);
  layout->addWidget(valuesNote_);
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
  const bool named = namedColumns(data);
  columns_->clear();
  for (int c = 1; c <= table.columnCount(); ++c) {
    const std::string entry =
        named ? cformat("D%d_%d      %s", slot_, c, table.columnName(c - 1).c_str())
              : cformat("D%d_%d      %d", slot_, c, c);
    columns_->addItem(QString::fromStdString(entry));
  }
  valuesStale_ = true;
  if (valuesShown()) fillValues();
}

void CDataListDialog::showValues(bool shown) {
  if (valuesToggle_->isChecked() != shown) {
    valuesToggle_->setChecked(shown);  // comes back here through toggled
    return;
  }
  if (shown && valuesStale_) fillValues();
  values_->setVisible(shown);
  valuesNote_->setVisible(shown && !valuesNote_->text().isEmpty());
  // Room for the values under the list of columns.
  if (shown) resize(std::max(width(), 640), std::max(height(), 640));
}

bool CDataListDialog::valuesShown() const {
  return valuesToggle_->isChecked();
}

QString CDataListDialog::valuesNote() const {
  return valuesNote_->text();
}

void CDataListDialog::fillValues() {
  const engine::DataSlot& data = workspace_.dataSlot(slot_);
  const data::M_Data& table = data.table;
  const bool named = namedColumns(data);
  const int rows = std::min(table.rowCount(), kValueRows);
  values_->setUpdatesEnabled(false);
  values_->clear();
  values_->setRowCount(rows);
  values_->setColumnCount(table.columnCount());
  QStringList captions;
  for (int c = 0; c < table.columnCount(); ++c) captions << columnCaption(table, c, named);
  values_->setHorizontalHeaderLabels(captions);
  for (int c = 0; c < table.columnCount(); ++c) {
    const bool numeric = table.isNumericColumn(c);
    for (int row = 0; row < rows; ++row) {
      // An empty numeric cell holds the missing-cell value and shows it, as a saved file would.
      const std::string text =
          numeric ? data::formatDataValue(table.NumericValue(row, c)) : table.CellText(row, c);
      auto* item = new QTableWidgetItem(QString::fromStdString(text));
      if (numeric) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      values_->setItem(row, c, item);
    }
  }
  values_->setUpdatesEnabled(true);
  valuesNote_->setText(table.rowCount() > rows
                           ? QString::fromStdString(cformat(text::kFirstRowsShown.in(language_),
                                                            rows, table.rowCount()))
                           : QString());
  valuesNote_->setVisible(valuesShown() && table.rowCount() > rows);
  valuesStale_ = false;
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
