#include "ui/DataFileProc.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <fstream>
#include <utility>

#include "common/FileIo.h"
#include "common/TextEncoding.h"
#include "data/DataPreview.h"

namespace vellumar::ui {
namespace {

constexpr int kPreviewLines = 3;
constexpr std::size_t kPreviewWidth = 250;
constexpr int kAnyCharacter = 4;
constexpr std::array<const char*, 5> kChoiceCaptions = {
    " Пробел", "Табуляция", "Табуляция или пробел", "Запятая", "Любой символ:"};
// The delimiter stored for choices 0-3 (0 means tab or space).
constexpr std::array<char, 4> kChoiceDelimiters = {' ', '\t', 0, ','};

}  // namespace

bool DataFormat::readOptions(data::ReadOptions& options) const {
  options.mergeDelimiters = merge;
  options.hasHeader = header;
  if (choice >= 0 && choice < kAnyCharacter) {
    options.delimiter = kChoiceDelimiters[static_cast<std::size_t>(choice)];
    return true;
  }
  // One byte of text: a character outside ASCII, or a line break, cannot split fields.
  if (character.isEmpty()) return false;
  const char16_t c = character.front().unicode();
  if (c == 0 || c >= 0x80 || c == '\r' || c == '\n') return false;
  options.delimiter = static_cast<char>(c);
  return true;
}

bool readDataHead(const std::string& path, std::string& head) {
  // A FIFO or a device would block the window or never end; only regular files are data files.
  if (checkRegularFile(path) != FileError::None) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  // The header line and the rows of the table.
  const std::size_t limit = data::previewHeadBytes(kPreviewRows + 1);
  head.assign(limit, '\0');
  file.read(head.data(), static_cast<std::streamsize>(limit));
  head.resize(static_cast<std::size_t>(file.gcount()));
  // A full read may end inside a line too long for the reader: that part is left out, unless
  // it is all there is.
  if (head.size() == limit && file.peek() != std::ifstream::traits_type::eof()) {
    const std::size_t lineEnd = head.rfind('\n');
    if (lineEnd != std::string::npos) head.resize(lineEnd + 1);
  }
  return true;
}

QString previewText(std::string_view head) {
  QStringList lines;
  while (lines.size() < kPreviewLines && !head.empty()) {
    const std::size_t lineEnd = std::min(head.find('\n'), head.size());
    std::string_view line = head.substr(0, lineEnd);
    head.remove_prefix(std::min(lineEnd + 1, head.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    QString text = QString::fromStdString(toUtf8(line));
    lines << text.left(static_cast<qsizetype>(kPreviewWidth));
  }
  return lines.join(QLatin1Char('\n'));
}

DataFileProc::DataFileProc(const DataFormat& format, const QString& fileName, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Формат данных"));
  choices_ = new QButtonGroup(this);
  auto* choiceBox = new QGroupBox(this);
  auto* choiceLayout = new QGridLayout(choiceBox);
  for (int i = 0; i < static_cast<int>(kChoiceCaptions.size()); ++i) {
    auto* radio = new QRadioButton(QString::fromUtf8(kChoiceCaptions[static_cast<std::size_t>(i)]),
                                   choiceBox);
    choices_->addButton(radio, i);
    choiceLayout->addWidget(radio, i, 0);
  }
  character_ = new QLineEdit(choiceBox);
  character_->setMaxLength(1);
  character_->setMaximumWidth(40);
  choiceLayout->addWidget(character_, kAnyCharacter, 1);
  connect(choices_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    character_->setEnabled(choices_->checkedId() == kAnyCharacter);
    if (checked) updateTable();
  });
  connect(character_, &QLineEdit::textChanged, this, &DataFileProc::updateTable);

  merge_ = new QCheckBox(QStringLiteral("Несколько разделителей считать одним"), this);
  header_ = new QCheckBox(QStringLiteral(" Есть заголовок (имена столбцов)"), this);
  connect(merge_, &QCheckBox::toggled, this, &DataFileProc::updateTable);
  connect(header_, &QCheckBox::toggled, this, &DataFileProc::updateTable);
  fileCaption_ = new QLabel(QStringLiteral("Имя файла:  ...") + QLatin1Char('/') + fileName, this);
  table_ = new QTableWidget(this);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Ввод"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileCaption_);
  layout->addWidget(table_);
  layout->addWidget(choiceBox);
  layout->addWidget(merge_);
  layout->addWidget(header_);
  layout->addWidget(buttons);
  setFormat(format);
  resize(560, 520);
}

DataFormat DataFileProc::format() const {
  return {choices_->checkedId(), merge_->isChecked(), header_->isChecked(), character_->text()};
}

void DataFileProc::setFormat(const DataFormat& format) {
  if (QAbstractButton* button = choices_->button(format.choice)) button->setChecked(true);
  merge_->setChecked(format.merge);
  header_->setChecked(format.header);
  character_->setText(format.character);
  character_->setEnabled(format.choice == kAnyCharacter);
}

QString DataFileProc::fileCaption() const {
  return fileCaption_->text();
}
void DataFileProc::setFileHead(std::string head) {
  head_ = std::move(head);
  updateTable();
}

void DataFileProc::updateTable() {
  data::ReadOptions options;
  data::CellPreview cells;
  // A choice without a usable delimiter shows no columns.
  if (format().readOptions(options)) cells = data::previewCells(head_, options, kPreviewRows);
  table_->clear();
  table_->setColumnCount(cells.columnCount);
  table_->setRowCount(static_cast<int>(cells.rows.size()));
  QStringList captions;
  for (const std::string& caption : cells.captions) captions << QString::fromStdString(caption);
  table_->setHorizontalHeaderLabels(captions);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const std::vector<std::string>& line = cells.rows[static_cast<std::size_t>(row)];
    for (int column = 0; column < cells.columnCount; ++column) {
      const std::string& cell = line[static_cast<std::size_t>(column)];
      table_->setItem(row, column, new QTableWidgetItem(QString::fromStdString(cell)));
    }
  }
}

QString DataFileProc::preview() const {
  return previewText(head_);
}
bool DataFileProc::characterEditEnabled() const {
  return character_->isEnabled();
}

}  // namespace vellumar::ui
