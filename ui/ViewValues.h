#pragma once

#include <QWidget>

#include "common/Language.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace vellumar::engine {
class Registry;
}

namespace vellumar::ui {

// "Значения идентификаторов": one line per named operand (name, padding, number or source
// path), the kind of the selected one, and "Показать", "Сохранить как...", "Закрыть". Double-
// clicking a line asks for its name to be inserted; "Сохранить как..." asks for the operand to
// be saved, "Показать" for it to be shown in the map view. Both act only on operands that are
// not numbers.
class ViewValues : public QWidget {
  Q_OBJECT

 public:
  ViewValues(const engine::Registry& registry, Language language, QWidget* parent = nullptr);

  // Refills the list, keeping the selected line.
  void refresh();
  QStringList lines() const;
  QString kindText() const;
  bool saveEnabled() const;
  bool showEnabled() const;
  void selectLine(int row);
  void activateLine(int row);
  void saveSelected();
  void showSelected();

 signals:
  void nameChosen(const QString& name);
  void saveRequested(const QString& name);
  void showRequested(const QString& name);

 private:
  QString selectedName() const;
  // True when a line is selected and its entry is not a number.
  bool selectedIsOperand() const;
  void showKind();

  const engine::Registry& registry_;
  Language language_;
  QListWidget* list_;
  QLineEdit* kind_;
  QPushButton* show_;
  QPushButton* save_;
};

}  // namespace vellumar::ui
