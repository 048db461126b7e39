// The keypad and function buttons: what each press inserts and which hint it shows, and the
// editing commands of the display.

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "engine/Builtins.h"
#include "ui/FileDialogs.h"
#include "ui/FunctionButtons.h"

namespace vellumar::ui::testing {

class KeypadTest : public QObject {
  Q_OBJECT

 private slots:
  void functionButtonsInsertTemplatesAndHints_data();
  void functionButtonsInsertTemplatesAndHints();
  void buttonsWhoseCaptionsDifferFromTheirText();
  void editingKeysAndTooltipsOfCommands();
  void fileFiltersInQtForm();
};

void KeypadTest::functionButtonsInsertTemplatesAndHints_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("inserted");
  QTest::addColumn<QString>("kinds");  // empty: the message line is cleared
  // Every button once: a caption used twice would leave one of them unreachable.
  QSet<QString> captions;
  for (const FunctionButton& button : functionButtons()) {
    const QString caption = QString::fromUtf8(button.caption.data(), button.caption.size());
    QVERIFY2(!captions.contains(caption), qPrintable(caption));
    captions.insert(caption);
    QTest::newRow(qPrintable(caption))
        << caption
        << QString::fromUtf8(button.name.data(), button.name.size()) +
               QString::fromUtf8(button.argumentTemplate.data(), button.argumentTemplate.size())
        << QString::fromUtf8(button.kinds.data(), button.kinds.size());
  }
  QVERIFY(captions.size() >= 50);
}

void KeypadTest::functionButtonsInsertTemplatesAndHints() {
  QFETCH(QString, caption);
  QFETCH(QString, inserted);
  QFETCH(QString, kinds);
  // The inserted function is one the calculator knows ("Arc" is completed by the user).
  const QString name = inserted.section(QLatin1Char('('), 0, 0).trimmed();
  if (inserted.contains(QLatin1Char('('))) {
    QVERIFY2(engine::findBuiltin(name.toStdString()) != nullptr, qPrintable(name));
  }
  // Every kind of the hint is an operand letter.
  for (const QString& kind :
       kinds.split(QRegularExpression(QStringLiteral("[, ]")), Qt::SkipEmptyParts)) {
    QVERIFY2(QStringLiteral("GDCPN").contains(kind) && kind.size() == 1, qPrintable(kinds));
  }
  WindowFixture f;
  f.window->display()->setPlainText(QStringLiteral("1+"));
  f.window->display()->moveCursor(QTextCursor::End);
  f.press(QStringLiteral("Sqrt"));  // leaves a hint that a button without one must clear
  f.window->display()->setPlainText(QStringLiteral("1+"));
  f.window->display()->moveCursor(QTextCursor::End);
  f.press(caption);
  QCOMPARE(f.window->display()->toPlainText(), "1+" + inserted);
  const QString hint =
      kinds.isEmpty() ? QString() : "В функции " + inserted + " тип аргумента X:  " + kinds;
  QCOMPARE(f.window->messageText(), hint);
  QVERIFY(!f.window->button(caption)->toolTip().isEmpty());
}

void KeypadTest::buttonsWhoseCaptionsDifferFromTheirText() {
  // A few buttons whose captions differ from what they insert.
  const std::pair<const char*, const char*> buttons[] = {{"Trace-L", "Trace( G, N, N, N, N )"},
                                                         {"Trace-P", "Trace( G, N, N, N )"},
                                                         {"MIN(x,p)", "MIN( X, P )"},
                                                         {"Sum(d)", "Sum( D )"},
                                                         {"Arc...", "Arc"},
                                                         {"Cut", "Cut( G, N, N, N, N [,N])"},
                                                         {"C_G_D", "C_G_D( X ,G )"}};
  for (const auto& [caption, inserted] : buttons) {
    QCOMPARE(QString::fromStdString(insertionFor(caption).text), QString::fromUtf8(inserted));
  }
}

void KeypadTest::editingKeysAndTooltipsOfCommands() {
  WindowFixture f;
  QPlainTextEdit* display = f.window->display();
  for (const char* key : {"1", "+", "(", "Pi", ")"}) f.press(QString::fromUtf8(key));
  QCOMPARE(display->toPlainText(), QStringLiteral("1+(  )Pi)"));
  // Caret after the last insertion; a selection is replaced and the edit can be undone.
  QTextCursor cursor = display->textCursor();
  cursor.setPosition(0);
  cursor.setPosition(1, QTextCursor::KeepAnchor);
  display->setTextCursor(cursor);
  f.press(QStringLiteral("outC"));
  QCOMPARE(display->toPlainText(), QStringLiteral("outC+(  )Pi)"));
  QCOMPARE(display->textCursor().position(), 4);
  display->undo();
  QCOMPARE(display->toPlainText(), QStringLiteral("1+(  )Pi)"));
  QCOMPARE(f.window->messageText(), QString());

  // Backspace removes a whole line break, leaving the caret at the end.
  struct Case {
    const char* before;
    const char* after;
  };
  for (const Case& c : {Case{"abc", "ab"}, Case{"ab\n", "ab"}, Case{"ab\nc", "ab"}, Case{"x", ""},
                        Case{"", ""}, Case{"a\n\n", "a"}}) {
    display->setPlainText(QString::fromUtf8(c.before));
    f.press(QStringLiteral("<-"));
    QCOMPARE(display->toPlainText(), QString::fromUtf8(c.after));
    QCOMPARE(display->textCursor().position(), static_cast<int>(display->toPlainText().size()));
  }

  // The tooltips set apart from the buttons' tables, and one of a function button.
  const std::pair<const char*, const char*> tips[] = {
      {"Sqrt", "Sqrt(X) - корень квадратный"},
      {"Расчет", "Вычислить выражение табло (Ctrl+Enter)"},
      {"Вид", "Показать результат на карте"},
  };
  for (const auto& [caption, tip] : tips) {
    QCOMPARE(f.window->button(QString::fromUtf8(caption))->toolTip(), QString::fromUtf8(tip));
  }
  QVERIFY(f.window->button(QStringLiteral("Вид"))->isEnabled());
}

void KeypadTest::fileFiltersInQtForm() {
  QCOMPARE(qtFilter("Файлы гридов (*.grd) |*.grd|Все файлы (*.*)|*.*||"),
           QStringLiteral("Файлы гридов (*.grd);;Все файлы (*.*)"));
  QCOMPARE(qtFilter("Tables|*.tab||"), QStringLiteral("Tables (*.tab)"));
  const FileDialogSetup polygons = loadDialogSetup(engine::FileKind::Polygon);
  QCOMPARE(polygons.defaultSuffix, QStringLiteral("pol"));
  // Each load dialog opens on every file of its kind, shapefiles included.
  const QString vectors = QStringLiteral("*.gpkg *.geojson *.json *.fgb *.kml *.gml");
  QCOMPARE(polygons.filter,
           "Полигоны (*.pol *.con *.shp " + vectors +
               ");;Файлы полигонов (*.pol);;Файлы полигонов (*.con);;Файлы полигонов (*.shp);;"
               "Векторные слои (" +
               vectors + ");;Все файлы (*.*)");
  QVERIFY(loadDialogSetup(engine::FileKind::Lines)
              .filter.startsWith("Линии (*.con *.lin *.shp " + vectors + ");;"));
  QVERIFY(loadDataDialogSetup().filter.startsWith("Данные (*.dat *.txt *.csv *.shp " + vectors +
                                                  ");;"));
  // Saves offer one filter per written vector format, so a name typed without one gets its own.
  const QStringList saves = saveDialogSetup(engine::Kind::Polygon).filter.split(";;");
  QVERIFY(saves.contains(QStringLiteral("GeoPackage (*.gpkg)")));
  QVERIFY(saves.contains(QStringLiteral("FlatGeobuf (*.fgb)")));
  // A save dialog's chosen filter gives a name typed without extension its format's extension.
  QCOMPARE(filterExtension(QStringLiteral("GeoTIFF (*.tif *.tiff)")), QStringLiteral("tif"));
  QCOMPARE(filterExtension(QStringLiteral("Файлы гридов (*.grd)")), QStringLiteral("grd"));
  QVERIFY(filterExtension(QStringLiteral("Все файлы (*.*)")).isEmpty());
  QVERIFY(filterExtension(QStringLiteral("Tables")).isEmpty());
}

VELLUMAR_UI_TEST(KeypadTest);

}  // namespace vellumar::ui::testing

#include "KeypadTest.moc"
