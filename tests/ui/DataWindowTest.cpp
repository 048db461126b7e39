// The data-format dialog's preview table and the values of a loaded table in the data window.

#include <QCheckBox>
#include <QHeaderView>
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
  void previewTableSplitsByTheChoices();
  void previewTableFollowsChangedChoices();
  void dataWindowShowsValues();
  void valuesTableShowsTheFirstThousandRows();
};

namespace {

QStringList captions(const QTableWidget* table) {
  QStringList texts;
  for (int c = 0; c < table->columnCount(); ++c) {
    const QTableWidgetItem* item = table->horizontalHeaderItem(c);
    texts << (item != nullptr ? item->text() : QString());
  }
  return texts;
}

QList<QStringList> cells(const QTableWidget* table) {
  QList<QStringList> rows;
  for (int r = 0; r < table->rowCount(); ++r) {
    QStringList row;
    for (int c = 0; c < table->columnCount(); ++c) {
      const QTableWidgetItem* item = table->item(r, c);
      row << (item != nullptr ? item->text() : QString());
    }
    rows << row;
  }
  return rows;
}

// The format dialog of a file of the scratch folder, with the file's start read as the window
// reads it.
std::unique_ptr<DataFileProc> formatDialog(const QString& path, const DataFormat& format) {
  std::string head;
  if (!readDataHead(path.toStdString(), head)) return nullptr;
  auto dialog = std::make_unique<DataFileProc>(format, QStringLiteral("f.dat"), QString());
  dialog->setFileHead(std::move(head));
  return dialog;
}

QPushButton* valuesButton(CDataListDialog* window) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->text() == QStringLiteral("Значения")) return button;
  }
  return nullptr;
}

}  // namespace

void DataWindowTest::previewTableSplitsByTheChoices() {
  WindowFixture f;
  struct Case {
    const char* name;
    std::string bytes;
    DataFormat format;
    QStringList captions;
    QList<QStringList> cells;
  };
  const std::string space = "X  Y Z\r\n0 0 5\r\n1 1 7\r\n";
  const std::string comma = "name,depth\n\"w1, east\",10\nw2,\n";
  const std::string tab = "a\tb\tc\n1\t\t3\n";
  const QList<Case> cases = {
      {"space.dat",
       space,
       {0, true, true, " "},
       {"X", "Y", "Z"},
       {{"0", "0", "5"}, {"1", "1", "7"}}},
      {"space.dat",
       space,
       {0, false, false, " "},
       {"1", "2", "3", "4"},
       {{"X", "", "Y", "Z"}, {"0", "0", "5", ""}, {"1", "1", "7", ""}}},
      {"comma.csv",
       comma,
       {3, false, true, " "},
       {"name", "depth"},
       {{"w1, east", "10"}, {"w2", ""}}},
      {"comma.csv",
       comma,
       {3, false, false, " "},
       {"1", "2"},
       {{"name", "depth"}, {"w1, east", "10"}, {"w2", ""}}},
      {"tab.txt", tab, {1, false, true, " "}, {"a", "b", "c"}, {{"1", "", "3"}}},
      {"tab.txt", tab, {1, true, false, " "}, {"1", "2", "3"}, {{"a", "b", "c"}, {"1", "3", ""}}},
      // Tab or space, and a typed character.
      // Merged, the row has two fields: the header's third name gets no column, as in a load.
      {"tab.txt", tab, {2, true, true, " "}, {"a", "b"}, {{"1", "3"}}},
      {"space.dat", space, {4, true, true, "Y"}, {"X"}, {{"0 0 5"}, {"1 1 7"}}},
  };
  for (const Case& c : cases) {
    const QString path = f.write(QString::fromUtf8(c.name), c.bytes);
    std::unique_ptr<DataFileProc> dialog = formatDialog(path, c.format);
    QVERIFY(dialog != nullptr);
    const QTableWidget* table = dialog->previewTable();
    QCOMPARE(table->columnCount(), c.captions.size());
    QCOMPARE(captions(table), c.captions);
    QCOMPARE(cells(table), c.cells);
  }

  // The window's own dialog shows the file it loads; the load gives the columns shown.
  QStringList shown;
  f.dialogs.onDialog = [&](QDialog& dialog) {
    auto& format = dynamic_cast<DataFileProc&>(dialog);
    format.setFormat({3, false, true, " "});
    shown = captions(format.previewTable());
    return true;
  };
  f.loadData(f.path("comma.csv"));
  QCOMPARE(shown, QStringList({"name", "depth"}));
  QCOMPARE(f.window->dataWindow(1)->entries(), QStringList({"D1_1      name", "D1_2      depth"}));
}

void DataWindowTest::previewTableFollowsChangedChoices() {
  WindowFixture f;
  const QString path = f.write("wells.csv", "name,x,y\nw1,10,20\nw2,11,21\n");
  std::unique_ptr<DataFileProc> dialog = formatDialog(path, {0, true, false, " "});
  const QTableWidget* table = dialog->previewTable();
  QCOMPARE(table->columnCount(), 1);  // no spaces: one column
  QCOMPARE(table->rowCount(), 3);

  // The user picks the comma, then says the first line is a header.
  QRadioButton* comma = nullptr;
  QCheckBox* header = nullptr;
  for (QRadioButton* radio : dialog->findChildren<QRadioButton*>()) {
    if (radio->text() == QStringLiteral("Запятая")) comma = radio;
  }
  for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
    if (box->text().contains(QStringLiteral("заголовок"))) header = box;
  }
  QVERIFY(comma != nullptr && header != nullptr);
  comma->click();
  QCOMPARE(captions(table), QStringList({"1", "2", "3"}));
  QCOMPARE(cells(table).front(), QStringList({"name", "x", "y"}));
  header->click();
  QCOMPARE(captions(table), QStringList({"name", "x", "y"}));
  QCOMPARE(cells(table), QList<QStringList>({{"w1", "10", "20"}, {"w2", "11", "21"}}));

  // A typed character splits as soon as it is typed; none typed shows no columns.
  dialog->setFormat({4, true, true, ""});
  QCOMPARE(table->columnCount(), 0);
  dialog->setFormat({4, true, true, "1"});
  QCOMPARE(cells(table), QList<QStringList>({{"w", ",", "0,20"}, {"w2,", ",2", ""}}));

  // The raw first lines stay available as read.
  QCOMPARE(dialog->preview(), QStringLiteral("name,x,y\nw1,10,20\nw2,11,21"));
}

void DataWindowTest::dataWindowShowsValues() {
  WindowFixture f;
  f.answerDataFormat({3, false, true, " "});
  f.loadData(f.write("wells.csv", "name,depth,note\nw1,1.5,\nw2,,\"a, b\"\nw3,0.0000001,c\n"));
  CDataListDialog* window = f.window->dataWindow(1);
  QVERIFY(window != nullptr);
  const QTableWidget* values = window->valueTable();
  QPushButton* toggle = valuesButton(window);
  QVERIFY(toggle != nullptr);
  QVERIFY(!window->valuesShown() && !values->isVisible());

  toggle->click();
  QVERIFY(window->valuesShown() && values->isVisible());
  QCOMPARE(captions(values), QStringList({"name", "depth", "note"}));
  // Numbers as a data file is written ("%lf", or "%.12g" for digits "%lf" would lose); an empty
  // numeric cell shows the missing-cell value, an empty text cell nothing.
  QCOMPARE(cells(values),
           QList<QStringList>(
               {{"w1", "1.500000", ""}, {"w2", "0.000000", "a, b"}, {"w3", "1e-07", "c"}}));
  QCOMPARE(window->valuesNote(), QString());

  toggle->click();
  QVERIFY(!window->valuesShown() && !values->isVisible());

  // The next table in the slot shows its own values, numbered columns without a header.
  window->close();
  window->showValues(true);
  f.answerDataFormat({0, true, false, " "});
  f.loadData(f.write("again.dat", "4 -2.25\n"));
  QCOMPARE(f.window->dataWindow(1), window);
  QCOMPARE(captions(values), QStringList({"1", "2"}));
  QCOMPARE(cells(values), QList<QStringList>({{"4.000000", "-2.250000"}}));
}

void DataWindowTest::valuesTableShowsTheFirstThousandRows() {
  WindowFixture f;
  std::string rows = "depth\n";
  for (int i = 1; i <= 1500; ++i) rows += std::to_string(i) + "\n";
  f.answerDataFormat({0, true, true, " "});
  f.loadData(f.write("long.dat", rows));
  CDataListDialog* window = f.window->dataWindow(1);
  window->showValues(true);
  const QTableWidget* values = window->valueTable();
  QCOMPARE(values->rowCount(), 1000);
  QCOMPARE(values->item(0, 0)->text(), QStringLiteral("1.000000"));
  QCOMPARE(values->item(999, 0)->text(), QStringLiteral("1000.000000"));
  QCOMPARE(window->valuesNote(), QStringLiteral("показаны первые 1000 строк из 1500"));
  // The rows beyond the window's height are reached by scrolling.
  QTRY_VERIFY(values->verticalScrollBar()->maximum() > 0);

  // In English; a table of exactly 1000 rows is shown whole, without the note.
  CDataListDialog english(f.window->workspace(), 1, f.dialogs, Language::English);
  QStringList texts;
  for (QPushButton* button : english.findChildren<QPushButton*>()) texts << button->text();
  QVERIFY(texts.contains(QStringLiteral("Values")));
  english.refresh();
  english.showValues(true);
  QCOMPARE(english.valuesNote(), QStringLiteral("first 1000 rows of 1500 shown"));

  rows.resize(rows.find("\n1001\n") + 1);
  f.loadData(f.write("thousand.dat", rows));
  CDataListDialog* whole = f.window->dataWindow(2);
  whole->showValues(true);
  QCOMPARE(whole->valueTable()->rowCount(), 1000);
  QCOMPARE(whole->valuesNote(), QString());
}

VELLUMAR_UI_TEST(DataWindowTest);

}  // namespace vellumar::ui::testing

#include "DataWindowTest.moc"
