// The calculator window program: starts Qt with its Russian texts, remembers the start-up
// directory (where the input history lives) and runs the calculator window until it is closed.
// Settings (the folders last used for each kind of file) are kept under "Vellumar".

#include <QApplication>
#include <QDir>
#include <clocale>

#include "ui/CTarnwickDlg.h"
#include "ui/Translations.h"
#include "ui/UserDialogs.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // QApplication takes the process locale from the environment; numbers in files and messages
  // must keep the "C" conventions whatever the desktop locale is.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setOrganizationName(QStringLiteral("Vellumar"));
  QApplication::setApplicationName(QStringLiteral("Vellumar"));
  // Qt's own dialogs and buttons speak Russian like the rest of the program.
  vellumar::ui::installRussianQtTranslations(app);
  QApplication::setApplicationVersion(QStringLiteral(VELLUMAR_VERSION));

  vellumar::ui::QtUserDialogs dialogs;
  vellumar::ui::CTarnwickDlg window(dialogs, QDir::currentPath());
  window.show();
  return app.exec();
}
