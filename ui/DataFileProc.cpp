#include "ui/DataFileProc.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <array>
#include <fstream>

#include "common/FileIo.h"
#include "common/TextEncoding.h"

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

bool readPreview(const std::string& path, QString& preview) {
  // A FIFO or a device would block the window or never end; only regular files are data files.
  if (checkRegularFile(path) != FileError::None) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  QStringList lines;
  std::string line;
  while (lines.size() < kPreviewLines && std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    QString text = QString::fromStdString(toUtf8(line));
    lines << text.left(static_cast<qsizetype>(kPreviewWidth));
  }
  preview = lines.join(QLatin1Char('\n'));
  return true;
}

DataFileProc::DataFileProc(const DataFormat& format, const QString& fileName,
                           const QString& preview, QWidget* parent)
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
  connect(choices_, &QButtonGroup::idToggled, this,
          [this] { character_->setEnabled(choices_->checkedId() == kAnyCharacter); });

  merge_ = new QCheckBox(QStringLiteral("Несколько разделителей считать одним"), this);
  header_ = new QCheckBox(QStringLiteral(" Есть заголовок (имена столбцов)"), this);
  fileCaption_ = new QLabel(QStringLiteral("Имя файла:  ...") + QLatin1Char('/') + fileName, this);
  preview_ = new QPlainTextEdit(preview, this);
  preview_->setReadOnly(true);
  preview_->setLineWrapMode(QPlainTextEdit::NoWrap);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Ввод"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileCaption_);
  layout->addWidget(preview_);
  layout->addWidget(choiceBox);
  layout->addWidget(merge_);
  layout->addWidget(header_);
  layout->addWidget(buttons);
  setFormat(format);
  resize(520, 420);
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
QString DataFileProc::preview() const {
  return preview_->toPlainText();
}
bool DataFileProc::characterEditEnabled() const {
  return character_->isEnabled();
}

}  // namespace vellumar::ui
