// The data-format dialog's preview table and the values of a loaded table in the data window.

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "ui/CDataListDialog.h"
#include "ui/DataFileProc.h"

namespace vellumar::ui::testing {

class DataWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void previewTableSplitsByTheChoicesAndFollowsThem();
  void dataWindowShowsValuesOfTheFirstThousandRows();
};

namespace {

// A table's captions, then its rows, as "a|b/1|2": cells split by "|", rows by "/".
QString shape(const QTableWidget* table) {
  QStringList rows;
  for (int r = -1; r < table->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < table->columnCount(); ++c) {
      const QTableWidgetItem* item = r < 0 ? table->horizontalHeaderItem(c) : table->item(r, c);
      row << (item != nullptr ? item->text() : QString());
    }
    rows << row.join(QLatin1Char('|'));
  }
  return rows.join(QLatin1Char('/'));
}

// The format dialog of a file of the scratch folder, with the file's start read as the window
// reads it.
std::unique_ptr<DataFileProc> formatDialog(const QString& path, const DataFormat& format) {
  std::string head;
  if (!readDataHead(path.toStdString(), head)) return nullptr;
  auto dialog = std::make_unique<DataFileProc>(format, u"f.dat"_s);
  dialog->setFileHead(std::move(head));
  return dialog;
}

// The first child widget of a kind whose caption contains text.
template <typename Widget>
Widget* captioned(QWidget* parent, const QString& text) {
  for (Widget* widget : parent->findChildren<Widget*>()) {
    if (widget->text().contains(text)) return widget;
  }
  return nullptr;
}

}  // namespace

void DataWindowTest::previewTableSplitsByTheChoicesAndFollowsThem() {
  WindowFixture f;
  f.write("space.dat", "X  Y Z\r\n0 0 5\r\n1 1 7\r\n");
  f.write("comma.csv", "name,depth\n\"w1, east\",10\nw2,\n");
  f.write("tab.txt", "a\tb\tc\n1\t\t3\n");
  struct Case {
    const char* file;
    DataFormat format;
    const char* shape;  // captions, then rows (see shape): the number of columns too
  };
  const std::vector<Case> cases = {
      {"space.dat", {0, true, true, " "}, "X|Y|Z/0|0|5/1|1|7"},
      {"space.dat", {0, false, false, " "}, "1|2|3|4/X||Y|Z/0|0|5|/1|1|7|"},
      {"comma.csv", {3, false, true, " "}, "name|depth/w1, east|10/w2|"},
      {"tab.txt", {1, false, true, " "}, "a|b|c/1||3"},
      // Merged, the row has two fields: the header's third name gets no column, as in a load.
      {"tab.txt", {2, true, true, " "}, "a|b/1|3"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<DataFileProc> dialog = formatDialog(f.path(c.file), c.format);
    QVERIFY(dialog != nullptr);
    QCOMPARE(shape(dialog->previewTable()), QString::fromUtf8(c.shape));
  }

  // The table follows the choices the user changes.
  const QString path = f.write("wells.csv", "name,x,y\nw1,10,20\nw2,11,21\n");
  std::unique_ptr<DataFileProc> dialog = formatDialog(path, {0, true, false, " "});
  const QTableWidget* table = dialog->previewTable();
  QCOMPARE(shape(table), u"1/name,x,y/w1,10,20/w2,11,21"_s);  // no blanks

  // The user picks the comma, then says the first line is a header.
  auto* comma = captioned<QRadioButton>(dialog.get(), u"Запятая"_s);
  auto* header = captioned<QCheckBox>(dialog.get(), u"заголовок"_s);
  QVERIFY(comma != nullptr && header != nullptr);
  comma->click();
  QCOMPARE(shape(table), u"1|2|3/name|x|y/w1|10|20/w2|11|21"_s);
  header->click();
  QCOMPARE(shape(table), u"name|x|y/w1|10|20/w2|11|21"_s);
  // A typed character splits at once; none typed shows no columns.
  dialog->setFormat({4, true, true, ""});
  QCOMPARE(table->columnCount(), 0);
  dialog->setFormat({4, true, true, "1"});
  QCOMPARE(shape(table), u"name,x,y||/w|,|0,20/w2,|,2|"_s);

  // The raw first lines stay available as read.
  QCOMPARE(dialog->preview(), u"name,x,y\nw1,10,20\nw2,11,21"_s);
}

void DataWindowTest::dataWindowShowsValuesOfTheFirstThousandRows() {
  WindowFixture f;
  f.answerDataFormat({3, false, true, " "});
  f.loadData(f.write("wells.csv", "name,depth,note\nw1,1.5,\nw2,,\"a, b\"\nw3,0.0000001,c\n"));
  CDataListDialog* window = f.window->dataWindow(1);
  const QTableWidget* values = window->valueTable();
  QPushButton* toggle = captioned<QPushButton>(window, u"Значения"_s);
  QVERIFY(toggle != nullptr);
  QVERIFY(!window->valuesShown() && !values->isVisible());

  toggle->click();
  QVERIFY(window->valuesShown() && values->isVisible());
  // Numbers as a data file is written ("%lf", or "%.12g" for digits "%lf" would lose); an empty
  // numeric cell shows the missing-cell value, an empty text cell nothing.
  QCOMPARE(shape(values), u"name|depth|note/w1|1.500000|/w2|0.000000|a, b/w3|1e-07|c"_s);
  QCOMPARE(window->valuesNote(), QString());
  toggle->click();
  QVERIFY(!window->valuesShown() && !values->isVisible());

  // The next table in the slot shows its own values, numbered columns without a header.
  window->close();
  window->showValues(true);
  f.answerDataFormat({0, true, false, " "});
  f.loadData(f.write("again.dat", "4 -2.25\n"));
  QCOMPARE(f.window->dataWindow(1), window);
  QCOMPARE(shape(values), u"1|2/4.000000|-2.250000"_s);

  // A long table shows its first thousand rows, and says so.
  std::string rows = "depth\n";
  for (int i = 1; i <= 1500; ++i) rows += std::to_string(i) + "\n";
  f.answerDataFormat({0, true, true, " "});
  window->close();
  f.loadData(f.write("long.dat", rows));
  QCOMPARE(f.window->dataWindow(1), window);
  QCOMPARE(values->rowCount(), 1000);
  QCOMPARE(values->item(999, 0)->text(), u"1000.000000"_s);
  QCOMPARE(window->valuesNote(), u"показаны первые 1000 строк из 1500"_s);
  QTRY_VERIFY(values->verticalScrollBar()->maximum() > 0);  // the rest is reached by scrolling

  // In English; a table of exactly 1000 rows is shown whole, without the note.
  CDataListDialog english(f.window->workspace(), 1, f.dialogs, Language::English);
  english.refresh();
  english.showValues(true);
  QCOMPARE(english.valuesNote(), u"first 1000 rows of 1500 shown"_s);
  QVERIFY(captioned<QPushButton>(&english, u"Values"_s) != nullptr);

  rows.resize(rows.find("\n1001\n") + 1);
  f.loadData(f.write("thousand.dat", rows));
  f.window->dataWindow(2)->showValues(true);
  QCOMPARE(f.window->dataWindow(2)->valueTable()->rowCount(), 1000);
  QCOMPARE(f.window->dataWindow(2)->valuesNote(), QString());
}

VELLUMAR_UI_TEST(DataWindowTest);

}  // namespace vellumar::ui::testing

#include "DataWindowTest.moc"
