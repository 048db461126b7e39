#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QListWidget;

namespace vellumar::ui {

// The field names of the DBF table beside a shapefile (path given with its .shp extension), in
// field order; empty when the table cannot be opened.
using DbfFieldLister = std::function<std::vector<std::string>(const std::string& shapefilePath)>;

// "DBF - файл": lists the fields of a shapefile's DBF table under "Выберите поле значений";
// the entry the user selects becomes the field that gives the lines their values.
class CInputDbfDialog : public QDialog {
  Q_OBJECT

 public:
  CInputDbfDialog(const std::string& shapefilePath, const DbfFieldLister& fields,
                  QWidget* parent = nullptr);

  const std::string& shapefilePath() const { return path_; }
  // The selected field, empty when none was selected.
  const std::string& chosenField() const { return chosen_; }
  QStringList fieldNames() const;
  void selectField(int row);

 private:
  std::string path_;
  std::string chosen_;
  QListWidget* list_;
};

}  // namespace vellumar::ui
