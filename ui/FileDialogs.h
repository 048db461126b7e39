#pragma once

#include <string_view>

#include "engine/Operand.h"
#include "engine/Workspace.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui {

// Converts a filter written as description|pattern pairs ended by "||" into Qt's form:
// descriptions joined by ";;", each naming its patterns in parentheses.
QString qtFilter(std::string_view pairs);

// The dialogs of the load and save commands and of the display files.
FileDialogSetup loadDialogSetup(engine::FileKind kind);
FileDialogSetup loadDataDialogSetup();
// The save dialog of a result kind (grid, data, polygon, lines).
FileDialogSetup saveDialogSetup(engine::Kind kind);
FileDialogSetup saveDisplayDialogSetup();
// The map view's picture dialog, starting in folder.
FileDialogSetup savePictureDialogSetup(const QString& folder);
FileDialogSetup loadDisplayDialogSetup();

}  // namespace vellumar::ui
