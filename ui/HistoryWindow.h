#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "common/Language.h"

class QPlainTextEdit;

namespace vellumar::ui {

class InputHistory;
class UserDialogs;

// "История ввода в табло": the history file as read-only text, with "Очистить" (asks, then
// truncates the file) and "Закрыть". Double-clicking an entry's line offers it for the display.
// The window deletes itself when closed. It touches the history file only through runFileWork,
// which the main window points at its worker thread.
class HistoryWindow : public QWidget {
  Q_OBJECT

 public:
  // Runs file work and returns when it has finished; false when it was not done (cancelled).
  using RunFileWork = std::function<bool(std::function<void()>)>;

  // Shows text, the history as InputHistory::windowText read it.
  HistoryWindow(InputHistory& history, const std::string& text, UserDialogs& dialogs,
                Language language, RunFileWork runFileWork, QWidget* parent = nullptr);

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
  RunFileWork runFileWork_;
  QPlainTextEdit* text_;
};

}  // namespace vellumar::ui
