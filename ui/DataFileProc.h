#pragma once

#include <QDialog>
#include <string>
#include <string_view>

#include "data/M_Data.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

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

// Rows the preview table of the format dialog shows.
inline constexpr int kPreviewRows = 20;

// The start of a data file for the format dialog: whole lines, enough for the preview table
// (a line the reader accepts is never cut); false when the file is no regular file or cannot be
// opened.
[[nodiscard]] bool readDataHead(const std::string& path, std::string& head);
// The first three lines of a file's start (each cut to 250 characters, without line ends), joined
// by line breaks.
QString previewText(std::string_view head);

// "Формат данных": the delimiter choice, the two check boxes, the file name and a table of the
// first rows of the file split by the choices (with a header line, its cells are the captions),
// redone whenever a choice changes; "Ввод" accepts, "Отмена" cancels.
class DataFileProc : public QDialog {
  Q_OBJECT

 public:
  DataFileProc(const DataFormat& format, const QString& fileName, QWidget* parent = nullptr);

  DataFormat format() const;
  void setFormat(const DataFormat& format);
  // The start of the file (see readDataHead) the table splits and preview() shows.
  void setFileHead(std::string head);
  QString fileCaption() const;
  // The first lines as read (previewText), before the choices split them.
  QString preview() const;
  bool characterEditEnabled() const;
  const QTableWidget* previewTable() const { return table_; }

 private:
  QButtonGroup* choices_;
  QLineEdit* character_;
  QCheckBox* merge_;
  QCheckBox* header_;
  // Splits the file's start by the current choices into the table.
  void updateTable();

  QLabel* fileCaption_;
  QTableWidget* table_;
  std::string head_;
};

}  // namespace vellumar::ui
