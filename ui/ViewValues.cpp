#include "ui/ViewValues.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/EngineMessages.h"
#include "engine/Registry.h"
#include "ui/UiMessages.h"

namespace vellumar::ui {

ViewValues::ViewValues(const engine::Registry& registry, Language language, QWidget* parent)
    : QWidget(parent, Qt::Window), registry_(registry), language_(language) {
  setWindowTitle(QStringLiteral("Значения идентификаторов"));
  list_ = new QListWidget(this);
  // The padding of the lines lines up only in a fixed-pitch font.
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  kind_ = new QLineEdit(this);
  kind_->setReadOnly(true);
  show_ = new QPushButton(QStringLiteral("Показать"), this);
  save_ = new QPushButton(QStringLiteral("Сохранить как..."), this);
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  show_->setEnabled(false);
  save_->setEnabled(false);
  kind_->setText(QString::fromUtf8(text::kKindNotChosen.in(language_)));

  connect(list_, &QListWidget::currentRowChanged, this, &ViewValues::showKind);
  connect(list_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { activateLine(list_->row(item)); });
  connect(save_, &QPushButton::clicked, this, &ViewValues::saveSelected);
  connect(show_, &QPushButton::clicked, this, &ViewValues::showSelected);
  connect(close, &QPushButton::clicked, this, &QWidget::hide);

  auto* kindRow = new QHBoxLayout;
  kindRow->addWidget(new QLabel(QStringLiteral("Тип:"), this));
  kindRow->addWidget(kind_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(show_);
  buttons->addWidget(save_);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(kindRow);
  layout->addLayout(buttons);
  resize(520, 360);
}

void ViewValues::refresh() {
  const int selected = list_->currentRow();
  list_->clear();
  for (const std::string& line : registry_.listLines(language_)) {
    list_->addItem(QString::fromStdString(line));
  }
  if (selected >= 0 && selected < list_->count()) list_->setCurrentRow(selected);
  showKind();
}

QStringList ViewValues::lines() const {
  QStringList texts;
  for (int i = 0; i < list_->count(); ++i) texts << list_->item(i)->text();
  return texts;
}

QString ViewValues::kindText() const {
  return kind_->text();
}
bool ViewValues::saveEnabled() const {
  return save_->isEnabled();
}
bool ViewValues::showEnabled() const {
  return show_->isEnabled();
}

void ViewValues::selectLine(int row) {
  list_->setCurrentRow(row);
}

QString ViewValues::selectedName() const {
  const QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return {};
  return QString::fromStdString(engine::nameOfListLine(item->text().toStdString()));
}

void ViewValues::showKind() {
  const engine::Calc_ID* entry = registry_.find(selectedName().toStdString());
  const bool chosen = list_->currentItem() != nullptr && entry != nullptr;
  kind_->setText(QString::fromUtf8(chosen ? engine::kindName(entry->value.kind(), language_)
                                          : text::kKindNotChosen.in(language_)));
  const bool operand = chosen && !entry->value.isNumber();
  save_->setEnabled(operand);
  show_->setEnabled(operand);
}

void ViewValues::activateLine(int row) {
  if (row < 0 || row >= list_->count()) return;
  list_->setCurrentRow(row);
  emit nameChosen(selectedName());
}

bool ViewValues::selectedIsOperand() const {
  const engine::Calc_ID* entry = registry_.find(selectedName().toStdString());
  return entry != nullptr && !entry->value.isNumber();
}

void ViewValues::saveSelected() {
  if (selectedIsOperand()) emit saveRequested(selectedName());
}

void ViewValues::showSelected() {
  if (selectedIsOperand()) emit showRequested(selectedName());
}

}  // namespace vellumar::ui
