#pragma once

#include <QDialog>
#include <string>

#include "data/M_Data.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace vellumar::ui {

// The choices of the data-format dialog, remembered by the main window from one load to the
// next: delimiter kind (0 space, 1 tab, 2 tab or space, 3 comma, 4 the character typed),
// several delimiters as one, header line present, the typed character.
struct DataFormat {
  int choice = 0;
  bool merge = true;
  bool header = false;
  QString character = QStringLiteral(" ");

  // The reader options of these choices; false when choice 4 has no usable one-byte delimiter.
  [[nodiscard]] bool readOptions(data::ReadOptions& options) const;
};

// The first three lines of a data file (each cut to 250 characters, without line ends), joined
// by line breaks, for the preview of the format dialog; false when the file cannot be opened.
[[nodiscard]] bool readPreview(const std::string& path, QString& preview);

// "Формат данных": the delimiter choice, the two check boxes, the file name and a preview of
// the first lines; "Ввод" accepts, "Отмена" cancels.
class DataFileProc : public QDialog {
  Q_OBJECT

 public:
  DataFileProc(const DataFormat& format, const QString& fileName, const QString& preview,
               QWidget* parent = nullptr);

  DataFormat format() const;
  void setFormat(const DataFormat& format);
  QString fileCaption() const;
  QString preview() const;
  bool characterEditEnabled() const;

 private:
  QButtonGroup* choices_;
  QLineEdit* character_;
  QCheckBox* merge_;
  QCheckBox* header_;
  QLabel* fileCaption_;
  QPlainTextEdit* preview_;
};

}  // namespace vellumar::ui
