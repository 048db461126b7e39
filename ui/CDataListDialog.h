#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;

namespace vellumar::engine {
class Workspace;
}

namespace vellumar::ui {

class UserDialogs;

// "Файл данных": the table of one data slot, its counts and path, the coordinate columns "X :"
// and "Y :" and one entry per column. Clicking a column registers it as the operand
// "D<slot>_<column>" (with the coordinate columns) and asks for its name to be inserted;
// "Закрыть" frees the slot and hides the window, which the next load into the slot reuses.
class CDataListDialog : public QWidget {
  Q_OBJECT

 public:
  CDataListDialog(engine::Workspace& workspace, int slot, UserDialogs& dialogs,
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

 signals:
  void nameChosen(const QString& name);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void storeCoordinates();

  engine::Workspace& workspace_;
  int slot_;
  UserDialogs& dialogs_;
  QLabel* counts_;
  QLabel* path_;
  QLineEdit* x_;
  QLineEdit* y_;
  QListWidget* columns_;
};

}  // namespace vellumar::ui
