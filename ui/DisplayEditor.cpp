#include "ui/DisplayEditor.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <array>

#include "ui/FunctionButtons.h"
#include "ui/InputHistory.h"
#include "ui/QtText.h"

namespace vellumar::ui {
namespace {

// Keypad rows: digits, operators and constants, inserted as they stand ("(" as "(  )").
constexpr std::array<std::array<const char*, 5>, 5> kKeypad{{
    {"7", "8", "9", "/", "("},
    {"4", "5", "6", "*", ")"},
    {"1", "2", "3", "-", ";"},
    {"0", ".", ",", "+", "="},
    {"Pi", "e", "outC", "mergeC", ""},
}};

constexpr int kFunctionColumns = 10;
constexpr int kLastLinesShown = 3;

// The pale colours of the function buttons, alternating by column.
constexpr std::array<const char*, 3> kFunctionColours = {"rgb(210, 220, 238)", "rgb(230, 220, 240)",
                                                         "rgb(225, 234, 250)"};

}  // namespace

DisplayEditor::DisplayEditor(InputHistory& history, QWidget* content, QWidget* window)
    : QObject(window),
      history_(history),
      window_(window),
      display_(new QPlainTextEdit(content)),
      messageLine_(new QLineEdit(content)) {
  display_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  display_->setMinimumHeight(110);
  messageLine_->setReadOnly(true);
}

QString DisplayEditor::messageText() const {
  return messageLine_->text();
}

QColor DisplayEditor::messageColor() const {
  return messageLine_->palette().color(QPalette::Text);
}

void DisplayEditor::showMessage(const QString& text, bool error) {
  QPalette colours = messageLine_->palette();
  colours.setColor(QPalette::Text,
                   error ? QColor(200, 0, 0) : window_->palette().color(QPalette::Text));
  messageLine_->setPalette(colours);
  messageLine_->setText(text);
}

QAbstractButton* DisplayEditor::addButton(const QString& caption, const QString& tooltip,
                                          QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setToolTip(tooltip);
  button->setFocusPolicy(Qt::NoFocus);  // the caret stays in the display
  buttons_[caption] = button;
  return button;
}

void DisplayEditor::keepButton(QAbstractButton* button) {
  buttons_[button->text()] = button;
}

QAbstractButton* DisplayEditor::button(const QString& caption) const {
  const auto found = buttons_.find(caption);
  return found == buttons_.end() ? nullptr : found->second;
}

void DisplayEditor::buildKeypad(QGridLayout* layout, QWidget* parent) {
  for (int row = 0; row < static_cast<int>(kKeypad.size()); ++row) {
    for (int column = 0; column < static_cast<int>(kKeypad[0].size()); ++column) {
      const QString caption = QString::fromUtf8(kKeypad[row][column]);
      if (caption.isEmpty()) continue;
      QAbstractButton* key = addButton(caption, {}, parent);
      // Wide enough for its caption ("mergeC"), never below the keypad's usual width.
      key->setMinimumWidth(std::max(44, key->sizeHint().width()));
      connect(key, &QAbstractButton::clicked, this, [this, caption] { pressKey(caption); });
      layout->addWidget(key, row, column);
    }
  }
}

void DisplayEditor::buildFunctionButtons(QGridLayout* layout, QWidget* parent) {
  int index = 0;
  for (const FunctionButton& function : functionButtons()) {
    const QString caption = fromUtf8(function.caption);
    QAbstractButton* key = addButton(caption, fromUtf8(function.tooltip), parent);
    key->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; border: 1px solid rgb(160, 165, 180);"
                       " padding: 3px 6px; } QPushButton:pressed { background: white; }")
            .arg(QString::fromUtf8(
                kFunctionColours[(index % kFunctionColumns) % kFunctionColours.size()])));
    connect(key, &QAbstractButton::clicked, this, [this, caption] { pressKey(caption); });
    layout->addWidget(key, index / kFunctionColumns, index % kFunctionColumns);
    ++index;
  }
  for (int column = 0; column < kFunctionColumns; ++column) layout->setColumnStretch(column, 1);
}

void DisplayEditor::insertAtCaret(const QString& text) {
  display_->textCursor().insertText(text);
  display_->ensureCursorVisible();
}

void DisplayEditor::pressKey(const QString& caption) {
  const Insertion insertion = insertionFor(caption.toStdString());
  showMessage(QString::fromStdString(insertion.hint), false);
  insertAtCaret(QString::fromStdString(insertion.text));
}

void DisplayEditor::replaceDisplay(const QString& text) {
  // One undoable edit, as typing over a selection of everything is.
  QTextCursor cursor(display_->document());
  cursor.select(QTextCursor::Document);
  cursor.insertText(text);
  display_->setTextCursor(cursor);
  display_->setFocus();
}

void DisplayEditor::deleteLastCharacter() {
  const QString text = display_->toPlainText();
  if (text.isEmpty()) return;
  qsizetype keep = text.size() - 1;
  if (keep > 0 && text[keep].isLowSurrogate() && text[keep - 1].isHighSurrogate()) --keep;
  // A line break goes in one press, with the character before it.
  if (keep > 0 && text[keep - 1] == QLatin1Char('\n')) --keep;
  if (keep > 0 && text[keep - 1] == QLatin1Char('\r')) --keep;
  QTextCursor cursor = display_->textCursor();
  cursor.setPosition(static_cast<int>(keep));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  display_->setTextCursor(cursor);
  if (display_->blockCount() > kLastLinesShown) {
    display_->verticalScrollBar()->setValue(display_->verticalScrollBar()->maximum());
  }
  display_->ensureCursorVisible();
}

void DisplayEditor::resetDisplay() {
  showMessage({}, false);
  const QString text = display_->toPlainText();
  if (text.isEmpty()) return;
  history_.append(text.toStdString());
  display_->clear();
}

}  // namespace vellumar::ui
