#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <map>

class QAbstractButton;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace vellumar::ui {

class InputHistory;

// The display ("табло") and the message line of the calculator window, and the keys that edit
// the display: the keypad of digits, operators and constants and the function buttons, each
// inserting its text at the caret and showing its argument hint. It keeps every button of the
// window by caption (the commands', the radio buttons' too), so tests and the window find them.
// A text cleared from the display goes to the input history first.
class DisplayEditor : public QObject {
  Q_OBJECT

 public:
  // The display and the message line are made children of content; window gives the normal
  // colour of the message line's text.
  DisplayEditor(InputHistory& history, QWidget* content, QWidget* window);

  QPlainTextEdit* display() const { return display_; }
  QLineEdit* messageLine() const { return messageLine_; }
  QString messageText() const;
  // The colour of the message line's text: red for an error, the normal colour otherwise.
  QColor messageColor() const;
  void showMessage(const QString& text, bool error);

  // A push button that leaves the caret in the display, kept under its caption.
  QAbstractButton* addButton(const QString& caption, const QString& tooltip, QWidget* parent);
  // Keeps a button made elsewhere (a radio button, a check box) under its caption.
  void keepButton(QAbstractButton* button);
  // The button with that caption (null when there is none).
  QAbstractButton* button(const QString& caption) const;
  // The keypad and the function buttons, in their layouts, as children of parent.
  void buildKeypad(QGridLayout* layout, QWidget* parent);
  void buildFunctionButtons(QGridLayout* layout, QWidget* parent);

  // Replaces the display's selection with text (undoable) and leaves the caret after it.
  void insertAtCaret(const QString& text);
  // Replaces the whole display text (undoable), as choosing a history entry does.
  void replaceDisplay(const QString& text);
  // A keypad or function button: inserts its text and shows its argument hint.
  void pressKey(const QString& caption);
  void deleteLastCharacter();
  // Clears the message line and the display, keeping its text in the history.
  void resetDisplay();

 private:
  InputHistory& history_;
  QWidget* window_;
  QPlainTextEdit* display_;
  QLineEdit* messageLine_;
  std::map<QString, QAbstractButton*> buttons_;
};

}  // namespace vellumar::ui
