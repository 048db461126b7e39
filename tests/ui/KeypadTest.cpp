// The keypad and function buttons: what each press inserts and which hint it shows, and the
// editing commands of the display.

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QTest>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "ui/FileDialogs.h"
#include "ui/FunctionButtons.h"

namespace vellumar::ui::testing {

class KeypadTest : public QObject {
  Q_OBJECT

 private slots:
  void functionButtonsInsertTemplatesAndHints_data();
  void functionButtonsInsertTemplatesAndHints();
  void keysInsertAtCaretReplacingSelection();
  void backspaceRemovesWholeLineBreaks();
  void tooltipsOfCommands();
  void fileFiltersInQtForm();
};

namespace {

const char* const kAny = "G,D,C,P,N";

}  // namespace

void KeypadTest::functionButtonsInsertTemplatesAndHints_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("inserted");
  QTest::addColumn<QString>("kinds");  // empty: the message line is cleared
  struct Row {
    const char* caption;
    const char* inserted;
    const char* kinds;
  };
  static const Row rows[] = {
      {"Dense", "Dense( G, N )", ""},
      {"min", "min( X, X )", kAny},
      {"max", "max( X, X )", kAny},
      {"Sqrt", "Sqrt( X )", kAny},
      {"Abs", "Abs( X )", kAny},
      {"Exp", "Exp( X )", kAny},
      {"Ln", "Ln( X )", kAny},
      {"Sin", "Sin( X )", kAny},
      {"Cos", "Cos( X )", kAny},
      {"Tg", "Tg( X )", kAny},
      {"And", "And( X, X )", "G,D,N"},
      {"Or", "Or( X, X )", "G,D,N"},
      {"Not", "Not( X )", "G,D,N"},
      {"Equal", "Equal( X, X )", "G,D,N"},
      {"Great", "Great( X, X )", "G,D,N"},
      {"Less", "Less( X, X )", "G,D,N"},
      {"Integral", "Integral( G, P )", ""},
      {"Cut", "Cut( G, N, N, N, N [,N])", ""},
      {"Merge", "Merge( G, G )", ""},
      {"Dx", "Dx( G )", ""},
      {"Dy", "Dy( G )", ""},
      {"Dxx", "Dxx( G )", ""},
      {"Dyy", "Dyy( G )", ""},
      {"Dxy", "Dxy( G )", ""},
      {"Area", "Area( X )", "G,P"},
      {"Len", "Len( X )", "G,D,C,P"},
      {"C_D", "C_D( X )", "D,C,P"},
      {"G_P", "G_P( X )", "G,P"},
      {"G_D", "G_D( X )", "G,D"},
      {"C_G_D", "C_G_D( X ,G )", "D,C,P"},
      {"In_P", "In_P( X, P )", "G,D,C,P"},
      {"Out_P", "Out_P( X, P )", "G,D,C,P"},
      {"IO_P", "IO_P( X, P )", "G,D,C,P"},
      {"Trace-L", "Trace( G, N, N, N, N )", ""},
      {"Arc...", "Arc", ""},
      {"^", "^", ""},
      {"Trace-P", "Trace( G, N, N, N )", ""},
      {"MIN(x)", "MIN( X )", kAny},
      {"MAX(x)", "MAX( X )", kAny},
      {"MIN(x,p)", "MIN( X, P )", "G,D,C P"},
      {"MAX(x,p)", "MAX( X, P )", "G,D,C,P"},
      {"Lg", "Lg( X )", kAny},
      {"IF", "IF( N, X, X )", kAny},
      {"Sum(d)", "Sum( D )", ""},
      {"Sum(d,p)", "Sum( D, P )", ""},
      {"Spec", "Spec( G, N )", ""},
      {"EG", "EG( Xmin, Xmax, Ymin, Ymax, Hx, Hy )", ""},
      {"XG", "XG( Xmin, Xmax, Ymin, Ymax, Hx, Hy )", ""},
      {"YG", "YG( Xmin, Xmax, Ymin, Ymax, Hx, Hy )", ""},
      {"RG", "RG( Xmin, Xmax, Ymin, Ymax, Hx, Hy, N, a, b, c )", ""},
  };
  QCOMPARE(std::size(rows), functionButtons().size());
  for (const Row& row : rows) {
    QTest::newRow(row.caption) << QString::fromUtf8(row.caption) << QString::fromUtf8(row.inserted)
                               << QString::fromUtf8(row.kinds);
  }
}

void KeypadTest::functionButtonsInsertTemplatesAndHints() {
  QFETCH(QString, caption);
  QFETCH(QString, inserted);
  QFETCH(QString, kinds);
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

void KeypadTest::keysInsertAtCaretReplacingSelection() {
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
}

void KeypadTest::backspaceRemovesWholeLineBreaks() {
  WindowFixture f;
  QPlainTextEdit* display = f.window->display();
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
}

void KeypadTest::tooltipsOfCommands() {
  WindowFixture f;
  const std::pair<const char*, const char*> tips[] = {
      {"<-", "Удалить последний символ"},
      {"Сброс", "Очистить табло"},
      {"Справка", "Типы аргументов и формат функций"},
      {"<<", "Загрузить в табло"},
      {">>", "Сохранить содержимое табло"},
      {"История", "История ввода в табло"},
      {"ID", "Значения идентификаторов"},
      {"Sqrt", "Sqrt(X) - корень квадратный"},
      {"Arc...", "Arc[Sin,Cos,Tg](X)"},
      {"^", "X^X - степень"},
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
  QCOMPARE(polygons.title, QStringLiteral("Загрузить полигон из файла"));
  QCOMPARE(polygons.defaultSuffix, QStringLiteral("pol"));
  QCOMPARE(polygons.filter, QStringLiteral("Файлы полигонов (*.pol);;Файлы полигонов (*.con);;"
                                           "Файлы полигонов (*.shp);;Все файлы (*.*)"));
}

VELLUMAR_UI_TEST(KeypadTest);

}  // namespace vellumar::ui::testing

#include "KeypadTest.moc"
