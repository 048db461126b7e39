#pragma once

class QCoreApplication;

namespace vellumar::ui {

// Installs Qt's own Russian texts (file dialogs, message-box buttons, context menus) from the
// qtbase_ru catalogue of the Qt installation; false when the catalogue is missing, in which case
// Qt's dialogs stay English. The window program's own texts are Russian already.
bool installRussianQtTranslations(QCoreApplication& application);

}  // namespace vellumar::ui
