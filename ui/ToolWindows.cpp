#include "ui/ToolWindows.h"

#include <QAbstractButton>
#include <QScreen>
#include <QWidget>

#include "ui/CDataListDialog.h"
#include "ui/FileDialogs.h"
#include "ui/FileListWindow.h"
#include "ui/HelpWindow.h"
#include "ui/HistoryWindow.h"
#include "ui/InputHistory.h"
#include "ui/UiMessages.h"
#include "ui/UserDialogs.h"
#include "ui/ViewValues.h"
#include "ui/mapview/CRVWnd.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui {

using engine::FileKind;

ToolWindows::ToolWindows(QWidget* window, UserDialogs& dialogs, engine::S_Calculator& calc,
                         engine::Workspace& workspace, InputHistory& history,
                         FileTaskRunner runFileTask)
    : QObject(window),
      window_(window),
      dialogs_(dialogs),
      calc_(calc),
      workspace_(workspace),
      history_(history),
      runFileTask_(std::move(runFileTask)) {
  viewValues_ = new ViewValues(calc_.registry(), calc_.language(), window_);
  connect(viewValues_, &ViewValues::nameChosen, this, &ToolWindows::nameChosen);
}

FileListWindow* ToolWindows::fileList(FileKind kind) const {
  const auto found = fileLists_.find(kind);
  return found == fileLists_.end() ? nullptr : found->second.data();
}

CDataListDialog* ToolWindows::dataWindow(int slot) const {
  const auto found = dataWindows_.find(slot);
  return found == dataWindows_.end() ? nullptr : found->second.data();
}

ViewValues* ToolWindows::viewValues() const {
  return viewValues_;
}

HistoryWindow* ToolWindows::historyWindow() const {
  return historyWindow_;
}

HelpWindow* ToolWindows::helpWindow() const {
  return helpWindow_;
}

mapview::CRVWnd* ToolWindows::mapView() const {
  return mapView_;
}

void ToolWindows::showFileList(FileKind kind) {
  QPointer<FileListWindow>& list = fileLists_[kind];
  if (list == nullptr) {
    list = new FileListWindow(kind, window_);
    connect(list, &FileListWindow::nameChosen, this, &ToolWindows::nameChosen);
    connect(list, &FileListWindow::closed, this,
            [this](FileKind closedKind) { workspace_.closeList(closedKind); });
  }
  list->setPaths(workspace_.loadedPaths(kind));
  list->show();
  list->raise();
}

CDataListDialog* ToolWindows::dataWindowFor(int slot) {
  QPointer<CDataListDialog>& window = dataWindows_[slot];
  if (window == nullptr) {
    window = new CDataListDialog(workspace_, slot, dialogs_, calc_.language(), window_);
    connect(window, &CDataListDialog::nameChosen, this, [this](const QString& name) {
      emit nameChosen(name);
      refreshIdentifiers();
    });
  }
  return window;
}

void ToolWindows::refreshDataWindows() {
  for (const auto& [slot, window] : dataWindows_) {
    if (window != nullptr && workspace_.dataSlot(slot).path != engine::kEmptySlotPath) {
      window->refresh();
    }
  }
}

void ToolWindows::refreshIdentifiers() {
  if (viewValues_ != nullptr) viewValues_->refresh();
}

void ToolWindows::showIdentifiers() {
  viewValues_->refresh();
  viewValues_->show();
  viewValues_->raise();
}

void ToolWindows::showHistory(QAbstractButton* historyButton) {
  if (historyWindow_ != nullptr) {
    historyWindow_->raise();
    return;
  }
  std::string text;
  if (!runFileTask_(text::kLoading, history_.path(), [&] { text = history_.windowText(); })) {
    return;
  }
  historyWindow_ = new HistoryWindow(
      history_, text, dialogs_, calc_.language(),
      [this](std::function<void()> work) {
        return runFileTask_(text::kSaving, history_.path(), std::move(work));
      },
      window_);
  connect(historyWindow_, &HistoryWindow::entryChosen, this, &ToolWindows::entryChosen);
  historyButton->setEnabled(false);
  connect(historyWindow_, &QObject::destroyed, historyButton,
          [historyButton] { historyButton->setEnabled(true); });
  historyWindow_->show();
}

void ToolWindows::showHelp() {
  if (helpWindow_ == nullptr) helpWindow_ = new HelpWindow(window_);
  helpWindow_->show();
  helpWindow_->raise();
}

void ToolWindows::showInView(const engine::Operand& operand, const std::string& name) {
  if (!mapview::CRVWnd::canShow(operand)) {
    dialogs_.message(
        window_, QString::fromStdString(mapview::text::kUnknownCoordinates.in(calc_.language())),
        UserDialogs::Icon::Stop);
    return;
  }
  delete mapView_.data();
  mapView_ = new mapview::CRVWnd(mapview::registryLayers(calc_.registry(), operand, name,
                                                         calc_.missingValue(), calc_.language()),
                                 calc_.missingValue(), calc_.language());
  mapView_->setPicturePathChooser([this](const QString& folder) {
    return chooseFile(dialogs_, mapView_, savePictureDialogSetup(folder), true);
  });
  // Beside the calculator, so that neither covers the other's controls.
  const QScreen* screen = window_->screen();
  mapView_->move(
      mapview::CRVWnd::placeBeside(window_->frameGeometry(), mapView_->size(),
                                   screen != nullptr ? screen->availableGeometry() : QRect()));
  mapView_->show();
}

void ToolWindows::closeAll() {
  delete helpWindow_.data();
  delete viewValues_.data();
  delete mapView_.data();
  delete historyWindow_.data();
  for (auto& [slot, window] : dataWindows_) delete window.data();
  for (auto& [kind, list] : fileLists_) delete list.data();
  dataWindows_.clear();
  fileLists_.clear();
}

}  // namespace vellumar::ui
