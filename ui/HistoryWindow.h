#pragma once

#include <QWidget>

#include "common/Language.h"

class QPlainTextEdit;

namespace vellumar::ui {

class InputHistory;
class UserDialogs;

// "История ввода в табло": the history file as read-only text, with "Очистить" (asks, then
// truncates the file) and "Закрыть". Double-clicking an entry's line offers it for the display.
// The window deletes itself when closed.
class HistoryWindow : public QWidget {
  Q_OBJECT

 public:
  HistoryWindow(InputHistory& history, UserDialogs& dialogs, Language language,
                QWidget* parent = nullptr);

  QString text() const;
  void clearHistory();
  // Offers the entry on a line of the text (0-based), as a double-click on it does; session
  // headers and empty lines offer nothing.
  void chooseLine(int line);

 signals:
  void entryChosen(const QString& entry);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  InputHistory& history_;
  UserDialogs& dialogs_;
  Language language_;
  QPlainTextEdit* text_;
};

}  // namespace vellumar::ui
