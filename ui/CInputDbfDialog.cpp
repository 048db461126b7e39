#include "ui/CInputDbfDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace vellumar::ui {

CInputDbfDialog::CInputDbfDialog(const std::string& shapefilePath, const DbfFieldLister& fields,
                                 QWidget* parent)
    : QDialog(parent), path_(shapefilePath) {
  setWindowTitle(QStringLiteral("DBF - файл"));
  list_ = new QListWidget(this);
  if (fields) {
    for (const std::string& name : fields(path_)) list_->addItem(QString::fromStdString(name));
  }
  connect(list_, &QListWidget::currentRowChanged, this, &CInputDbfDialog::selectField);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Ввод"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Выберите поле значений"), this));
  layout->addWidget(list_);
  layout->addWidget(buttons);
  resize(280, 320);
}

QStringList CInputDbfDialog::fieldNames() const {
  QStringList names;
  for (int i = 0; i < list_->count(); ++i) names << list_->item(i)->text();
  return names;
}

void CInputDbfDialog::selectField(int row) {
  if (row < 0 || row >= list_->count()) return;
  if (list_->currentRow() != row) list_->setCurrentRow(row);
  chosen_ = list_->item(row)->text().toStdString();
}

}  // namespace vellumar::ui
