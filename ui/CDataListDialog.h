#pragma once

#include <QWidget>

#include "common/Language.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace vellumar::engine {
class Workspace;
}

namespace vellumar::ui {

class UserDialogs;

// "Файл данных": the table of one data slot, its counts and path, the coordinate columns "X :"
// and "Y :" and one entry per column. Clicking a column registers it as the operand
// "D<slot>_<column>" (with the coordinate columns) and asks for its name to be inserted;
// "Закрыть" frees the slot and hides the window, which the next load into the slot reuses.
// The toggle "Значения" shows or hides the table's values: its first kValueRows rows, numbers
// printed as data files are written, with a note of how many rows there are when not all are
// shown.
class CDataListDialog : public QWidget {
  Q_OBJECT

 public:
  // The most rows the values table shows.
  static constexpr int kValueRows = 1000;

  CDataListDialog(engine::Workspace& workspace, int slot, UserDialogs& dialogs, Language language,
                  QWidget* parent = nullptr);

  int slot() const { return slot_; }
  // A new table in the slot: counts, path, the slot's default coordinate columns (a shapefile's X
  // and Y columns, else 1 and 2) and the column list.
  void showLoadedTable();
  // Refreshes counts and column list after the table changed (a "Zres" column appended).
  void refresh();
  void setCoordinateTexts(const QString& x, const QString& y);
  QString countsText() const;
  QStringList entries() const;
  // Clicks a column entry, as the user does.
  void chooseColumn(int row);
  // Switches the values table on or off, as the toggle does.
  void showValues(bool shown);
  bool valuesShown() const;
  const QTableWidget* valueTable() const { return values_; }
  // The note under the values ("" when every row is shown).
  QString valuesNote() const;

 signals:
  void nameChosen(const QString& name);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void storeCoordinates();
  // Fills the values table from the slot's table; done only while it is shown.
  void fillValues();

  engine::Workspace& workspace_;
  int slot_;
  UserDialogs& dialogs_;
  QLabel* counts_;
  QLabel* path_;
  QLineEdit* x_;
  QLineEdit* y_;
  QListWidget* columns_;
  Language language_;
  QPushButton* valuesToggle_;
  QTableWidget* values_;
  QLabel* valuesNote_;
  bool valuesStale_ = true;  // the table changed since the values were filled
};

}  // namespace vellumar::ui
