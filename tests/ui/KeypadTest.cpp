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
  void fileFiltersInQtForm();
  void functionButtonsInsertTemplatesAndHints();
  void editingKeysAndTooltipsOfCommands();
};

void KeypadTest::functionButtonsInsertTemplatesAndHints() {
  WindowFixture f;
  QPlainTextEdit* display = f.display();
  // Every button once: a caption used twice would leave one of them unreachable.
  QSet<QString> captions;
  for (const FunctionButton& button : functionButtons()) {
    const QString caption = QString::fromUtf8(button.caption.data(), button.caption.size());
    const QString name = QString::fromUtf8(button.name.data(), button.name.size());
    const QString inserted =
        name + QString::fromUtf8(button.argumentTemplate.data(), button.argumentTemplate.size());
    const QString kinds = QString::fromUtf8(button.kinds.data(), button.kinds.size());
    QVERIFY2(!captions.contains(caption), qPrintable(caption));
    captions.insert(caption);
    // The inserted function is one the calculator knows ("Arc" is completed by the user), and
    // every kind of the hint is an operand letter.
    if (inserted.contains(QLatin1Char('('))) {
      QVERIFY2(engine::findBuiltin(name.trimmed().toStdString()) != nullptr, qPrintable(name));
    }
    for (const QString& kind : kinds.split(QRegularExpression(u"[, ]"_s), Qt::SkipEmptyParts)) {
      QVERIFY2(u"GDCPN"_s.contains(kind) && kind.size() == 1, qPrintable(kinds));
    }
    // After a hint that a button without one must clear.
    f.press(u"Sqrt"_s);
    display->setPlainText(u"1+"_s);
    display->moveCursor(QTextCursor::End);
    f.press(caption);
    QCOMPARE(display->toPlainText(), "1+" + inserted);
    QCOMPARE(f.window->messageText(),
             kinds.isEmpty() ? QString() : "В функции " + inserted + " тип аргумента X:  " + kinds);
    QVERIFY(!f.window->button(caption)->toolTip().isEmpty());
  }
  QVERIFY(captions.size() >= 50);
}

void KeypadTest::editingKeysAndTooltipsOfCommands() {
  WindowFixture f;
  QPlainTextEdit* display = f.display();
  for (const char* key : {"1", "+", "(", "Pi", ")"}) f.press(QString::fromUtf8(key));
  QCOMPARE(display->toPlainText(), u"1+(  )Pi)"_s);
  // Caret after the last insertion; a selection is replaced and the edit can be undone.
  QTextCursor cursor = display->textCursor();
  cursor.setPosition(0);
  cursor.setPosition(1, QTextCursor::KeepAnchor);
  display->setTextCursor(cursor);
  f.press(u"outC"_s);
  QCOMPARE(display->toPlainText(), u"outC+(  )Pi)"_s);
  QCOMPARE(display->textCursor().position(), 4);
  display->undo();
  QCOMPARE(display->toPlainText(), u"1+(  )Pi)"_s);
  QCOMPARE(f.window->messageText(), QString());

  // Backspace removes a whole line break, leaving the caret at the end.
  struct Case {
    const char* before;
    const char* after;
  };
  for (const Case& c : {Case{"abc", "ab"}, Case{"ab\n", "ab"}, Case{"ab\nc", "ab"}, Case{"x", ""},
                        Case{"", ""}, Case{"a\n\n", "a"}}) {
    display->setPlainText(QString::fromUtf8(c.before));
    f.press(u"<-"_s);
    QCOMPARE(display->toPlainText(), QString::fromUtf8(c.after));
    QCOMPARE(display->textCursor().position(), static_cast<int>(display->toPlainText().size()));
  }

  QCOMPARE(f.window->button(u"Расчет"_s)->toolTip(), u"Вычислить выражение табло (Ctrl+Enter)"_s);
  QVERIFY(f.window->button(u"Вид"_s)->isEnabled());
}

void KeypadTest::fileFiltersInQtForm() {
  QCOMPARE(qtFilter("Файлы гридов (*.grd) |*.grd|Все файлы (*.*)|*.*||"),
           u"Файлы гридов (*.grd);;Все файлы (*.*)"_s);
  QCOMPARE(qtFilter("Tables|*.tab||"), u"Tables (*.tab)"_s);
  // A save dialog's chosen filter gives a name typed without extension its format's extension.
  QCOMPARE(filterExtension(u"GeoTIFF (*.tif *.tiff)"_s), u"tif"_s);
  QCOMPARE(filterExtension(u"Файлы гридов (*.grd)"_s), u"grd"_s);
  QVERIFY(filterExtension(u"Все файлы (*.*)"_s).isEmpty());
  QVERIFY(filterExtension(u"Tables"_s).isEmpty());
}

VELLUMAR_UI_TEST(KeypadTest);

}  // namespace vellumar::ui::testing

#include "KeypadTest.moc"
