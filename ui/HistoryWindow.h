#pragma once

#include <QWidget>

#include "common/Language.h"

class QPlainTextEdit;

namespace vellumar::ui {

class InputHistory;
class UserDialogs;

// "История ввода в табло": the history file as read-only text, with "Очистить" (asks, then
// truncates the file) and "Закрыть". The window deletes itself when closed.
class HistoryWindow : public QWidget {
  Q_OBJECT

 public:
  HistoryWindow(InputHistory& history, UserDialogs& dialogs, Language language,
                QWidget* parent = nullptr);

  QString text() const;
  void clearHistory();

 private:
  InputHistory& history_;
  UserDialogs& dialogs_;
  Language language_;
  QPlainTextEdit* text_;
};

}  // namespace vellumar::ui
