#pragma once

#include <QWidget>

namespace vellumar::ui {

// The reference of argument kinds, constants and function formats: one read-only text in three
// sections ("Типы аргументов:", "Константы:", "Формат функций:"). Modeless, created on first use.
class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  static QString referenceText();
};

}  // namespace vellumar::ui
