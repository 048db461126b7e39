#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "engine/Workspace.h"

class QListWidget;

namespace vellumar::ui {

// The list of loaded files of one kind ("Файлы гридов", "Файлы линий", "Файлы полигонов"), one
// entry "G1   /path" per file. Clicking an entry asks for its operand name to be inserted;
// "Закрыть" reports closed() and the window deletes itself.
class FileListWindow : public QWidget {
  Q_OBJECT

 public:
  explicit FileListWindow(engine::FileKind kind, QWidget* parent = nullptr);

  engine::FileKind kind() const { return kind_; }
  // Shows one entry per path, numbered from 1.
  void setPaths(const std::vector<std::string>& paths);
  QStringList entries() const;
  // Clicks an entry, as the user does.
  void chooseEntry(int row);

 signals:
  void nameChosen(const QString& name);
  void closed(engine::FileKind kind);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  engine::FileKind kind_;
  QListWidget* list_;
};

}  // namespace vellumar::ui
