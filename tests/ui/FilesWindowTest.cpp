// Loading and saving operands from the window: the dialogs, the duplicate check, the list
// windows and their renumbering, the data-format dialog and its preview table, the data windows
// with the values of a loaded table, and the DBF dialog; the input history file, the history
// window and the display files.

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <tuple>

#include "../cli/CalcRunner.h"
#include "../formats/VectorFixtures.h"
#include "UiTestSupport.h"
#include "ui/CDataListDialog.h"
#include "ui/CInputDbfDialog.h"
#include "ui/FileDialogs.h"
#include "ui/FileListWindow.h"
#include "ui/HistoryWindow.h"

namespace vellumar::ui::testing {

namespace {

// Drops files on a widget as a file manager does, after a drag that enters it; true when the
// widget accepted the drag.
bool dropFiles(QWidget* target, const QStringList& paths) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime.setUrls(urls);
  const QPointF point(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

// The choices of a data format, to compare them in one go.
std::tuple<int, bool, bool, QString> choicesOf(const DataFormat& format) {
  return {format.choice, format.merge, format.header, format.character};
}

// Loads the wells table, with its header line, as data slot 1; returns its path.
QString loadWellsWithHeader(WindowFixture& f) {
  f.answerDataFormat({0, true, true, " "});
  f.loadData(f.write("wells.dat", dataFile()));
  return f.path("wells.dat");
}

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
  for (Widget* widget : parent->findChildren<Widget*>())
    if (widget->text().contains(text)) return widget;
  return nullptr;
}

// A session header as the history file holds it, with the time the session began.
const QRegularExpression kHeader(
    QStringLiteral("\r\n----- Рабочая сессия: ---> [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] "
                   "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n\r\n"));

// The entries of each session of the history file, which must begin with a session header.
QStringList sessions(const WindowFixture& f) {
  QStringList parts = QString::fromStdString(f.read("history.ses")).split(kHeader);
  if (parts.size() < 2 || !parts.takeFirst().isEmpty()) return {"<no header first>"};
  return parts;
}

// Whether the window ran the file work of an action in its worker. A zero-time timer set before
// an action fires in the first pass of an event loop: while the file work runs when the window
// hands it to the worker and waits, only afterwards (from the processEvents below) when the work
// ran in the GUI thread.
bool ranInWorker(WindowFixture& f, const std::function<void()>& action) {
  bool fired = false, busy = false;
  QTimer::singleShot(0, f.window.get(), [&] {
    fired = true;
    busy = f.window->isEvaluating();
  });
  action();
  QCoreApplication::processEvents();
  return fired && busy;
}

}  // namespace

class FilesWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void loadFailuresGridListsDuplicatesAndRenumbering() {
    // The box names the file at fault after a message that does not name it already.
    QCOMPARE(f.load(FileKind::Grid, f.write("bad.grd", "DSAA\n2 2\nnonsense\n")),
             "Недопустимый формат файла гридa!, строка 3\n" + f.path("bad.grd"));
    QCOMPARE(f.load(FileKind::Polygon, f.path("none.pol")),
             "Нельзя открыть файл " + f.path("none.pol") + " !");
    QVERIFY(!f.window->fileListWindow(FileKind::Grid) && !f.registry().find("G1"));
    QCOMPARE(f.window->fileListWindow(FileKind::Polygon), nullptr);
    QCOMPARE(f.loadData(f.path("none.dat")), "Нельзя открыть файл " + f.path("none.dat") + " !");

    // Loaded grids are listed, numbered from G1.
    const QString first = f.write("a.grd", gridFile()), second = f.write("b.grd", gridFile());
    f.load(FileKind::Grid, first);
    QCOMPARE(f.dialogs.fileDialogs.back().filter,
             u"Гриды (*.grd *.tif *.tiff *.asc *.nc *.img *.vrt);;Все файлы (*.*)"_s);
    f.load(FileKind::Grid, second);
    FileListWindow* list = f.window->fileListWindow(FileKind::Grid);
    QVERIFY(list != nullptr);
    QCOMPARE(list->entries(), QStringList({"G1   " + first, "G2   " + second}));

    f.load(FileKind::Grid, first);
    QCOMPARE(std::pair(f.lastMessage(), f.dialogs.messages.back().icon),
             std::pair(u"Такой файл уже загружен!"_s, UserDialogs::Icon::Stop));
    QCOMPARE(list->entries().size(), 2);

    // Clicking an entry inserts its name; closing the list restarts the numbering.
    f.display()->clear();
    list->chooseEntry(1);
    QCOMPARE(f.display()->toPlainText(), u"G2"_s);
    list->close();
    QTRY_VERIFY(f.window->fileListWindow(FileKind::Grid) == nullptr);
    f.load(FileKind::Grid, second);
    list = f.window->fileListWindow(FileKind::Grid);
    QVERIFY(list != nullptr);
    QCOMPARE(list->entries(), QStringList({"G1   " + second}));
    QCOMPARE(f.sourceOf("G1"), second);
    QVERIFY(f.registry().find("G2") != nullptr);  // registered operands stay

    // A cancelled dialog changes nothing.
    f.press(u"Гриды"_s);
    QCOMPARE(list->entries().size(), 1);
  }

  void dataFormatDialogRemembersChoicesAndPreviewsThem() {
    QCOMPARE(choicesOf(f.window->dataFormat()), choicesOf({0, true, false, " "}));

    DataFormat seen;
    QString preview, caption;
    // Loads the file at path, answering the format dialog with chosen, accepted or not.
    auto loadAnswering = [&](DataFormat chosen, bool accept, const QString& path) {
      f.dialogs.onDialog = [&, chosen, accept](QDialog& dialog) {
        auto& format = dynamic_cast<DataFileProc&>(dialog);
        seen = format.format();
        preview = format.preview();
        caption = format.fileCaption();
        format.setFormat(chosen);
        return accept;
      };
      f.loadData(path);
    };
    // The comma choice reads quoted fields: "w1, east" is one cell.
    loadAnswering({3, false, true, " "}, true,
                  f.write("table.csv", "name,depth\r\n\"w1, east\",10\r\nw2," +
                                           std::string(300, '7') + "\r\nw3,30\r\n"));
    QCOMPARE(preview, QString("name,depth\n\"w1, east\",10\nw2," + QString(247, '7')));
    QCOMPARE(caption, u"Имя файла:  .../table.csv"_s);
    QCOMPARE(f.window->dataWindow(1)->entries(),
             QStringList({"D1_1      name", "D1_2      depth"}));

    // The next load starts from the choices of the last one; a cancel keeps them.
    loadAnswering({4, true, false, ""}, false, f.write("other.dat", dataFile()));
    QCOMPARE(choicesOf(seen), choicesOf({3, false, true, " "}));
    QCOMPARE(choicesOf(f.window->dataFormat()), choicesOf({3, false, true, " "}));
    QCOMPARE(f.window->workspace().dataSlotCount(), 1);

    // Any character with nothing typed is refused.
    loadAnswering({4, true, false, ""}, true, f.path("other.dat"));
    QCOMPARE(f.lastMessage(), u"Недопустимый разделитель!"_s);

    loadAnswering({4, true, false, ";"}, true, f.path("other.dat"));
    QCOMPARE(f.window->dataWindow(2)->entries().size(), 1);  // "X Y Z" is one field with ';'
    QCOMPARE(f.loadData(f.path("other.dat")), u"Такой файл уже загружен!"_s);
    f.loadData(f.write("third.dat", "1\n"));
    QCOMPARE(choicesOf(seen), choicesOf({4, true, false, ";"}));

    DataFileProc typed({4, true, false, "|"}, "x.dat", nullptr);
    QVERIFY(typed.characterEditEnabled());
    typed.setFormat({1, true, false, "|"});
    QVERIFY(!typed.characterEditEnabled());

    // The preview table splits the file's first lines by the choices.
    f.write("space.dat", "X  Y Z\r\n0 0 5\r\n1 1 7\r\n");
    f.write("tab.txt", "a\tb\tc\n1\t\t3\n");
    // Each file and format with the table's captions, then rows (see shape): its columns too.
    // (The comma and the header are the user's choices below, merging the last case's; quoted
    // fields are the data reader's tests'.)
    const std::tuple<const char*, DataFormat, const char*> cases[] = {
        {"space.dat", {0, false, false, " "}, "1|2|3|4/X||Y|Z/0|0|5|/1|1|7|"},
        {"tab.txt", {1, false, true, " "}, "a|b|c/1||3"},
        // Merged, the row has two fields: the header's third name gets no column, as in a load.
        {"tab.txt", {2, true, true, " "}, "a|b/1|3"},
    };
    for (const auto& [file, format, expected] : cases) {
      std::unique_ptr<DataFileProc> dialog = formatDialog(f.path(file), format);
      QVERIFY(dialog != nullptr);
      QCOMPARE(shape(dialog->previewTable()), QString::fromUtf8(expected));
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
  }

  void dataWindowColumnsAndCoordinates() {
    loadWellsWithHeader(f);
    CDataListDialog* window = f.window->dataWindow(1);
    QVERIFY(window != nullptr && window->isVisible());
    QCOMPARE(window->countsText(), u"Всего: строк  3,  столбцов  3"_s);

    f.display()->clear();
    window->chooseColumn(2);
    QCOMPARE(f.display()->toPlainText(), u"D1_3"_s);
    QCOMPARE(f.evaluate("Sum(D1_3)"), u"21.000000000000"_s);

    window->setCoordinateTexts(u"1"_s, u"1"_s);
    window->chooseColumn(2);
    QCOMPARE(f.lastMessage(), u"Недопустимые столбцы координат X и Y!"_s);

    // A table of one row without coordinates gives a number; without a header, numbered entries.
    f.answerDataFormat({0, true, false, " "});
    f.loadData(f.write("one.dat", "4 8\n"));
    CDataListDialog* one = f.window->dataWindow(2);
    QCOMPARE(one->entries(), QStringList({"D2_1      1", "D2_2      2"}));
    one->setCoordinateTexts(QString(), QString());
    one->chooseColumn(1);
    QCOMPARE(f.evaluate("D2_2"), u"8.000000000000"_s);

    // Closing frees the slot: the next load reuses it and its window.
    window->close();
    f.loadData(f.write("again.dat", "1\n2\n"));
    QCOMPARE(f.window->dataWindow(1), window);
    QCOMPARE(window->entries(), QStringList({"D1_1      1"}));
    QCOMPARE(window->countsText(), u"Всего: строк  2,  столбцов  1"_s);
  }

  void savingByKindAndDataByAppendingZres() {
    // A number is shown, never written.
    f.evaluate("2.5");
    f.press(u"Сохранить"_s);
    QVERIFY(f.dialogs.fileDialogs.empty());
    QCOMPARE(std::tuple(f.lastMessage(), f.dialogs.messages.back().icon, f.window->messageText()),
             std::tuple(u"Результат - число - в текстовом поле"_s, UserDialogs::Icon::Information,
                        u"2.500000000000"_s));

    // Saving over a loaded file writes it and re-registers the result under that file's name.
    f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
    f.evaluateAndSave("G1 + 100", "relief.grd");
    QCOMPARE(f.evaluate("MIN(G1)"), u"101.000000000000"_s);

    // A ring the file's twelve digits would collapse is left out, and the message line says so.
    f.load(FileKind::Polygon,
           f.write("tiny.pol",
                   "1\r\n1000 1000\r\n1000.0000000001 1000\r\n1000 1000.0000000001\r\n"
                   "1000 1000\r\nEND\r\nEND\r\n"));
    f.evaluateAndSave("P1", "tiny-copy.pol");
    QCOMPARE(f.window->messageText(),
             u"не записаны кольца, схлопывающиеся при 12 значащих цифрах файла: 1"_s);
    QCOMPARE(f.read("tiny-copy.pol"), std::string("END\r\n"));

    f.load(FileKind::Lines, f.write("edge.con", squareFile(4, 1)));
    QCOMPARE(f.evaluateAndSave("C1", "no/such/dir/x.con"), u"Ошибка сохранения линий!"_s);

    // Data results append a column Zres to the file they were loaded from.
    f.dialogs.messages.clear();
    const QString wells = loadWellsWithHeader(f);
    CDataListDialog* window = f.window->dataWindow(1);
    window->chooseColumn(2);
    QCOMPARE(f.evaluate("D1_3 * 2"), u"Результат - данные - готов !"_s);
    // Declining leaves the file as it was.
    const std::string before = f.read("wells.dat");
    f.dialogs.answer = false;
    f.save(wells);
    QCOMPARE(std::pair(f.dialogs.questions.back(), f.dialogs.questionIcons.back()),
             std::pair(u"Добавить столбец Zres в wells.dat?"_s, UserDialogs::Icon::Question));
    QVERIFY(!f.dialogs.fileDialogs.back().confirmOverwrite);  // the window asks its own question
    QCOMPARE(f.read("wells.dat"), before);
    f.dialogs.answer = true;
    f.save(wells);
    QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
    QCOMPARE(window->entries().back(), u"D1_4      Zres"_s);
    QCOMPARE(window->countsText(), u"Всего: строк  3,  столбцов  4"_s);
    window->chooseColumn(3);
    QCOMPARE(f.evaluate("Sum(D1_4)"), u"42.000000000000"_s);

    // A result of another length is refused and the file stays.
    const std::string appended = f.read("wells.dat");
    f.answerDataFormat({0, true, false, " "});
    f.loadData(f.write("two.dat", "1\n2\n"));
    f.window->dataWindow(2)->setCoordinateTexts(QString(), QString());
    f.window->dataWindow(2)->chooseColumn(0);
    QCOMPARE(f.evaluate("D2_1 + 1"), u"Результат - данные - готов !"_s);
    QCOMPARE(f.save(wells), u"Несовпадение размерности данных!"_s);
    QCOMPARE(f.read("wells.dat"), appended);

    // Another existing file is replaced only when the user agrees; a new one needs no question.
    f.write("old.dat", "1\n");
    f.dialogs.answer = false;
    f.evaluateAndSave("D1_3 * 2", "old.dat");
    QCOMPARE(f.dialogs.questions.back(), u"Файл old.dat уже существует. Заменить его?"_s);
    QCOMPARE(f.read("old.dat"), std::string("1\n"));
    f.dialogs.answer = true;
    f.save(f.path("old.dat"));
    QVERIFY(f.read("old.dat") != "1\n");
    const std::size_t asked = f.dialogs.questions.size();
    f.save(f.path("new.dat"));
    QVERIFY(f.dialogs.questions.size() == asked && f.read("new.dat") != "<missing>");
    // A loaded file another program changed is refused, and the message says which file.
    const std::string changed = appended + "9 9 9 9\n";
    f.write("wells.dat", changed);
    QCOMPARE(f.save(wells), "файл данных изменён после загрузки\n" + wells);
    QCOMPARE(f.read("wells.dat"), changed);
  }

  void vectorFilesAskForTheLayerAndTheValueField() {
    // Lines saved as a shapefile load back with the value field chosen in the DBF dialog.
    f.load(FileKind::Lines, f.write("edge.con", squareFile(4, 1)));
    QCOMPARE(f.evaluate("C1 + 5"), u"Результат - линии - готов !"_s);
    f.save(f.path("roads.shp"));
    f.save(f.path("roads.gpkg"));

    QStringList listed;
    std::string chosen;
    int field = 0;
    bool accept = true;
    f.dialogs.onDialog = [&](QDialog& dialog) {
      auto& fields = dynamic_cast<CInputDbfDialog&>(dialog);
      listed = fields.fieldNames();
      fields.selectField(field);
      chosen = fields.chosenField();
      return accept;
    };
    f.load(FileKind::Lines, f.path("roads.shp"));
    QCOMPARE(std::pair(listed, chosen),
             std::pair(QStringList({"Atribute", "ID", "NAME"}), std::string("Atribute")));
    QCOMPARE(f.evaluate("MAX(C2)"), u"5.000000000000"_s);
    // A cancelled field choice loads the lines without values (a GeoPackage's as a shapefile's).
    accept = false;
    f.load(FileKind::Lines, f.path("roads.gpkg"));
    QCOMPARE(f.evaluate("MAX(C3)"), u"0.000000000000E+00"_s);

    // The GeoPackage's lines become the second layer of a file of districts.
    accept = true;
    const QString districts = f.write("districts.geojson", formats::testing::kDistricts);
    const std::string both = f.path("both.gpkg").toStdString();
    QVERIFY(formats::testing::translateVector(districts.toStdString(), both, "GPKG", "districts"));
    QVERIFY(formats::testing::translateVector(f.path("roads.gpkg").toStdString(), both, "GPKG",
                                              "roads", true));
    // The layer is chosen from a list, then its value field from the layer's fields.
    field = 1;
    f.dialogs.chosen = 0;
    f.load(FileKind::Polygon, f.path("both.gpkg"));
    QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
    QCOMPARE(f.dialogs.choices.back(),
             u"В файле both.gpkg слоёв: 2. Какой прочитать? districts/roads"_s);
    QCOMPARE(listed, QStringList({"name", "pop", "code"}));
    QCOMPARE(f.sourceOf("P1"), f.path("both.gpkg:districts"));
    QCOMPARE(f.evaluate("MAX(P1)"), u"120.500000000000"_s);
    f.dialogs.chosen = 1;
    field = 0;
    f.load(FileKind::Lines, f.path("both.gpkg"));
    QCOMPARE(listed, QStringList({"Atribute", "ID"}));
    QCOMPARE(f.evaluate("MAX(C4)"), u"5.000000000000"_s);
    // A cancelled layer choice loads nothing and says nothing.
    const std::size_t shown = f.dialogs.messages.size();
    f.dialogs.chosen = -1;
    f.load(FileKind::Polygon, f.path("both.gpkg"));
    QVERIFY(f.dialogs.messages.size() == shown && f.registry().find("P2") == nullptr);

    // Shapefile and GeoJSON data need no format dialog and list their columns by name.
    loadWellsWithHeader(f);
    f.window->dataWindow(1)->chooseColumn(2);
    f.evaluateAndSave("D1_3 * 2", "points.shp");
    bool asked = false;
    f.dialogs.onDialog = [&asked](QDialog&) { return asked = true; };
    f.loadData(f.path("points.shp"));
    f.loadData(f.write("wells.geojson", R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {"depth": 206.5}, "geometry": {"type": "Point",
 "coordinates": [1.5, 1]}}]})"));
    QVERIFY(!asked);
    QCOMPARE(f.window->dataWindow(3)->entries(),
             QStringList({"D3_1      X", "D3_2      Y", "D3_3      depth"}));
    // Saving into a loaded shapefile is refused.
    f.window->dataWindow(2)->chooseColumn(2);
    QCOMPARE(f.evaluateAndSave("D2_3 + 1", "points.shp"),
             u"Не допускается сохранение в загруженном shp-файле!"_s);
    // A layer that cannot be read says why at once.
    f.load(FileKind::Polygon, f.write("broken.geojson", "{\"type\": \"Feature"));
    QVERIFY2(f.lastMessage().startsWith("Недопустимый формат файла полигонa!, файл " +
                                        f.path("broken.geojson") + "\n"),
             qPrintable(f.lastMessage()));
    QVERIFY(!asked);
  }

  void droppedFilesLoadByExtension() {
    // Closed lines saved as a shapefile, to be dropped later.
    f.load(FileKind::Lines, f.write("edge.con", squareFile(4)));
    f.evaluateAndSave("C1 * 1", "roads.shp");

    int formatDialogs = 0;
    f.dialogs.onDialog = [&formatDialogs](QDialog& dialog) {
      if (auto* format = dynamic_cast<DataFileProc*>(&dialog)) {
        ++formatDialogs;
        format->setFormat({0, true, true, " "});
      }
      return true;
    };
    f.dialogs.chosen = 1;  // the shapefile as a polygon
    const QStringList dropped = {
        f.write("relief.GRD", gridFile()),   f.write("rivers.lin", squareFile(3, 1)),
        f.write("field.pol", squareFile(5)), f.write("wells.csv", dataFile()),
        f.write("more.txt", dataFile()),     f.path("roads.shp")};
    QVERIFY(dropFiles(f.window.get(), dropped));
    const engine::Registry& registry = f.registry();
    QTRY_VERIFY2(registry.find("P2") != nullptr, qPrintable(f.lastMessage()));
    QCOMPARE(registry.find("G1")->value.kind(), engine::Kind::Grid);
    QCOMPARE(QStringList({f.sourceOf("C2"), f.sourceOf("P1"), f.sourceOf("P2")}),
             QStringList({f.path("rivers.lin"), f.path("field.pol"), f.path("roads.shp")}));
    QVERIFY(formatDialogs == 2 && f.window->dataWindow(1) && f.window->dataWindow(2));
    QCOMPARE(f.dialogs.choices.back(), u"Загрузить roads.shp как: Линии/Полигоны/Данные"_s);
    QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));

    // The shapefile again, as data: its table's X and Y columns are the coordinates by default.
    f.dialogs.chosen = 2;
    QVERIFY(dropFiles(f.window.get(), {f.path("roads.shp")}));
    QTRY_VERIFY(f.window->dataWindow(3) != nullptr);
    QCOMPARE(f.window->dataWindow(3)->entries().mid(0, 3),
             QStringList({"D3_1      nLn", "D3_2      X", "D3_3      Y"}));
    f.window->dataWindow(3)->chooseColumn(0);
    const data::DATA& vertices = registry.find("D3_1")->value.points();
    QVERIFY(vertices.hasCoordinates());
    QCOMPARE(std::pair(vertices.x()[1], vertices.y()[1]), std::pair(0.0, 4.0));  // the 2nd vertex

    // A cancelled choice loads nothing; an unknown kind of file is named in a message.
    f.dialogs.chosen = -1;
    QVERIFY(dropFiles(f.window.get(), {f.path("roads.shp"), f.write("notes.doc", "x")}));
    QTRY_COMPARE(f.lastMessage(), u"Неизвестный тип файла: notes.doc"_s);
    QVERIFY(f.window->dataWindow(4) == nullptr && !dropFiles(f.window.get(), {}));
  }

  void fileDialogsStartInTheFolderLastUsedWithFiltersInQtForm() {
    QSettings().clear();
    QTemporaryDir elsewhere;
    QDir(f.dir->path()).mkdir(u"maps"_s);
    const QString grid = f.write("maps/relief.grd", gridFile());
    f.load(FileKind::Grid, grid);
    f.load(FileKind::Grid, f.write("other.grd", gridFile()));
    QCOMPARE(f.dialogs.fileDialogs.back().folder, QFileInfo(grid).absolutePath());
    // Each kind of file has its own folder.
    f.pressChoosing(u"Полигоны"_s, QDir(elsewhere.path()).filePath("x.pol"));
    f.press(u"Полигоны"_s);
    QCOMPARE(f.dialogs.fileDialogs.back().folder, elsewhere.path());
    // Saving a grid is the same kind as loading one.
    f.evaluate("G1");
    f.press(u"Сохранить"_s);
    QCOMPARE(f.dialogs.fileDialogs.back().folder, f.dir->path());
    f.window.reset();
    // The next run starts where the last one ended.
    WindowFixture next;
    next.press(u"Гриды"_s);
    QCOMPARE(next.dialogs.fileDialogs.back().folder, f.dir->path());
    next.press(u"Данные"_s);
    QVERIFY(next.dialogs.fileDialogs.back().folder.isEmpty());

    // The filters in Qt's form (the window's own, which name their patterns, are checked above).
    QCOMPARE(qtFilter("Tables|*.tab||"), u"Tables (*.tab)"_s);
    // A save dialog's chosen filter gives a name typed without extension its format's extension.
    QStringList extensions;
    for (const char* filter :
         {"GeoTIFF (*.tif *.tiff)", "Файлы гридов (*.grd)", "Все (*.*)", "Tables"})
      extensions << filterExtension(QString::fromUtf8(filter));
    QCOMPARE(extensions, QStringList({"tif", "grd", "", ""}));
  }

  void rasterGridsByBandFormatAndCoordinateSystem() {
    // A 3 × 3 ESRI ASCII grid with one no-data node, 100 m cells, in UTM zone 32 (its .prj beside
    // it).
    f.write("dem.prj", cli::testing::kUtm32Prj);
    f.load(FileKind::Grid,
           f.write("dem.asc",
                   "ncols 3\nnrows 3\nxllcorner 500000\nyllcorner 5500000\ncellsize 100\n"
                   "NODATA_value -9999\n7 8 9\n4 -9999 6\n1 2 3\n"));
    QCOMPARE(f.evaluate("MAX(G1)"), u"9.000000000000"_s);

    // A file of several bands asks which; a cancel loads nothing.
    // A virtual raster of two bands over dem.asc: band 1 as it is, band 2 ten times its values.
    const std::string band =
        "<VRTRasterBand dataType=\"Float64\" band=\"%d\"><NoDataValue>-9999</NoDataValue>"
        "<ComplexSource><SourceFilename relativeToVRT=\"1\">dem.asc</SourceFilename>"
        "<SourceBand>1</SourceBand><ScaleRatio>%d</ScaleRatio><NODATA>-9999</NODATA>"
        "</ComplexSource></VRTRasterBand>";
    const QString bands =
        f.write("bands.vrt",
                "<VRTDataset rasterXSize=\"3\" rasterYSize=\"3\">"
                "<GeoTransform>500000, 100, 0, 5500300, 0, -100</GeoTransform>" +
                    cformat(band.c_str(), 1, 1) + cformat(band.c_str(), 2, 10) + "</VRTDataset>");
    f.load(FileKind::Grid, bands);
    QCOMPARE(f.dialogs.choices.back(), u"В файле bands.vrt каналов: 2. Какой прочитать? 1…2"_s);
    QVERIFY(f.registry().find("G2") == nullptr);
    f.dialogs.chosen = 2;
    f.load(FileKind::Grid, bands);
    QCOMPARE(f.evaluate("MAX(G2 - G1 * 10)"), u"0.000000000000E+00"_s);

    // Saved as GeoTIFF through the per-format filters, and loaded again by a drop as a grid.
    f.evaluateAndSave("G1 * 2", "twice.tif");
    QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
    QCOMPARE(f.dialogs.fileDialogs.back().filter,
             QStringLiteral("Файлы гридов (*.grd);;GeoTIFF (*.tif *.tiff);;ESRI ASCII (*.asc);;"
                            "netCDF (*.nc);;ERDAS Imagine (*.img);;Все файлы (*.*)"));
    QVERIFY(dropFiles(f.window.get(), {f.path("twice.tif")}));
    QTRY_VERIFY2(f.registry().find("G3") != nullptr, qPrintable(f.lastMessage()));
    QCOMPARE(f.sourceOf("G3"), f.path("twice.tif"));
  }

  void evaluationByRecord() {
    // z = x + y over [0, 20]^2; two squares on it and one beside it.
    std::string plane = "DSAA\r\n5 5\r\n0 20\r\n0 20\r\n0 40\r\n";
    for (int j = 0; j <= 20; j += 5)
      plane += cformat("%d %d %d %d %d\r\n", j, j + 5, j + 10, j + 15, j + 20);
    f.load(FileKind::Grid, f.write("plane.grd", plane));
    f.write("d.val", "1 7\r\n2 8\r\n3 9\r\n");
    f.load(FileKind::Polygon,
           f.write("d.pol",
                   "1\r\n0 0\r\n0 10\r\n10 10\r\n10 0\r\n0 0\r\nEND\r\n"
                   "2\r\n10 0\r\n10 10\r\n20 10\r\n20 0\r\n10 0\r\nEND\r\n"
                   "3\r\n40 40\r\n40 45\r\n45 45\r\n45 40\r\n40 40\r\nEND\r\nEND\r\n"));
    const QString layerMessage = f.evaluate("P1");
    f.window->button(u"По объектам"_s)->setChecked(true);
    // The layer with the records' means is the result; the record beside the map is listed.
    QCOMPARE(f.evaluate("Mean(G1, P1)"), layerMessage);
    QCOMPARE(f.lastMessage(), QStringLiteral("Объекты, для которых вычисление не удалось:\n"
                                             "3\tMean: в полигоне нет значений грида"));
    // P1 is the whole layer again, and without the control the text is evaluated once.
    f.window->button(u"По объектам"_s)->setChecked(false);
    QCOMPARE(f.evaluate("Area(P1)"), u"225.000000000000"_s);
  }

  void dataWindowShowsValuesOfTheFirstThousandRows() {
    f.answerDataFormat({3, false, true, " "});
    f.loadData(f.write("wells.csv", "name,depth,note\nw1,1.5,\nw2,,\"a, b\"\nw3,0.0000001,c\n"));
    CDataListDialog* window = f.window->dataWindow(1);
    const QTableWidget* values = window->valueTable();
    QPushButton* toggle = captioned<QPushButton>(window, u"Значения"_s);
    QVERIFY(toggle != nullptr && !window->valuesShown() && !values->isVisible());

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
    f.loadData(f.write("again.dat", "4 -2.25\n"));  // into the same window
    QCOMPARE(shape(values), u"1|2/4.000000|-2.250000"_s);

    // A long table shows its first thousand rows, and says so.
    std::string rows = "depth\n";
    for (int i = 1; i <= 1500; ++i) rows += std::to_string(i) + "\n";
    f.answerDataFormat({0, true, true, " "});
    window->close();
    f.loadData(f.write("long.dat", rows));
    QVERIFY(f.window->dataWindow(1) == window && values->rowCount() == 1000);
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

  void resetAndEvaluationsAppendEntriesAfterOneHeaderThatTheHistoryWindowShows() {
    // An empty display writes nothing.
    f.press(u"Сброс"_s);
    QCOMPARE(f.read("history.ses"), std::string("<missing>"));

    // A reset writes the history in the GUI thread, which the worker probe tells apart.
    f.display()->setPlainText(u"a\nb"_s);
    QVERIFY(!ranInWorker(f, [&] { f.press(u"Сброс"_s); }));
    QCOMPARE(f.display()->toPlainText(), QString());
    f.display()->setPlainText(u"x = 1"_s);
    f.window->close();  // closing logs the display as "Сброс" does
    QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n"}));

    // The next run in the folder adds a session of its own after the last one. Evaluations are
    // logged once each: the same text again is not repeated, a failed evaluation is logged too.
    f.window = std::make_unique<CTarnwickDlg>(f.dialogs, f.dir->path());
    f.evaluate(u"1 + 1"_s);
    f.evaluate(u"1 + 1"_s);
    f.press(u"Сброс"_s);
    f.evaluate(u"Sqrt(-1)"_s);
    f.evaluate(u"1 + 1"_s);
    QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n", "1 + 1\r\nSqrt(-1)\r\n1 + 1\r\n"}));

    // The history window shows, clears and chooses the entries.
    f.display()->setPlainText(u"Sqrt(G1)"_s);
    f.press(u"Сброс"_s);
    f.display()->setPlainText(u"2 + 2"_s);
    f.press(u"Сброс"_s);
    QVERIFY(ranInWorker(f, [&] { f.press(u"История"_s); }));
    HistoryWindow* window = f.window->historyWindow();
    QVERIFY(window != nullptr && !f.window->button(u"История"_s)->isEnabled());
    QVERIFY(window->text().endsWith(u"\nSqrt(G1)\n2 + 2"_s));
    QVERIFY(window->text().startsWith(u"\n----- Рабочая сессия: ---> "_s));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* text = window->findChild<QPlainTextEdit*>();
    const QStringList lines = window->text().split(QLatin1Char('\n'));
    const int entry = static_cast<int>(lines.indexOf(u"2 + 2"_s));
    QVERIFY(entry > 0);
    // A real double-click on the entry's line.
    const QTextBlock block = text->document()->findBlockByNumber(entry);
    const QPoint point = text->cursorRect(QTextCursor(block)).center();
    // The entry replaces what the display holds, as one edit that undo takes back.
    f.display()->setPlainText(u"Sqrt("_s);
    QTest::mouseDClick(text->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(f.display()->toPlainText(), u"2 + 2"_s);
    f.display()->undo();
    QCOMPARE(f.display()->toPlainText(), u"Sqrt("_s);
    // Session headers and empty lines put nothing there.
    f.display()->clear();
    for (int line = 0; line < lines.size(); ++line)
      if (lines[line].isEmpty() || lines[line].startsWith(u"-----"_s)) window->chooseLine(line);
    QCOMPARE(f.display()->toPlainText(), QString());

    // "No" keeps everything; any other answer truncates the file, in the worker.
    f.dialogs.answer = false;
    window->clearHistory();
    QCOMPARE(f.dialogs.questions.back(), u"История ввода будет потеряна, продолжить?"_s);
    QVERIFY(!window->text().isEmpty());
    f.dialogs.answer = true;
    QVERIFY(ranInWorker(f, [&] { window->clearHistory(); }));
    QCOMPARE(std::pair(window->text(), f.read("history.ses")), std::pair(QString(), std::string()));

    window->close();
    QTRY_VERIFY(f.window->historyWindow() == nullptr);
    QVERIFY(f.window->button(u"История"_s)->isEnabled());
    f.display()->setPlainText(u"3"_s);
    f.press(u"Сброс"_s);
    QCOMPARE(sessions(f), QStringList({"3\r\n"}));  // a new session begins after a clear
  }

  void displayFilesRoundTripAndFailures() {
    QPlainTextEdit* display = f.display();
    const QString text = u"x = 2;\n\ny = x * 3\nглубина = 1"_s;
    display->setPlainText(text);
    // Both run their file work in the worker.
    QVERIFY(ranInWorker(f, [&] { f.pressChoosing(u">>"_s, f.path("sheet.ctb")); }));
    QCOMPARE(f.dialogs.fileDialogs.back().defaultSuffix, u"ctb"_s);
    QCOMPARE(f.read("sheet.ctb"), std::string("x = 2;\r\n\r\ny = x * 3\r\nглубина = 1"));

    display->clear();
    QVERIFY(ranInWorker(f, [&] { f.pressChoosing(u"<<"_s, f.path("sheet.ctb")); }));
    QCOMPARE(display->toPlainText(), text);

    // Loading inserts at the caret, replacing the selection (the file's line breaks and encodings
    // are DisplayFile's tests').
    display->setPlainText(u"[]"_s);
    display->moveCursor(QTextCursor::Start);
    display->moveCursor(QTextCursor::NextCharacter);
    f.pressChoosing(u"<<"_s, f.write("unix.ctb", "a\nb"));
    QCOMPARE(display->toPlainText(), u"[a\nb]"_s);

    // Failures say what failed and keep the display.
    display->setPlainText(u"kept"_s);
    f.pressChoosing(u"<<"_s, f.path("missing.ctb"));
    QCOMPARE(std::tuple(f.lastMessage(), f.dialogs.messages.back().icon, display->toPlainText()),
             std::tuple(u"Нельзя открыть файл содержимого табло!"_s, UserDialogs::Icon::Stop,
                        u"kept"_s));

    QCOMPARE(f.pressChoosing(u">>"_s, f.path("no/such/folder/x.ctb")),
             u"Нельзя открыть файл для сохранения табло!"_s);
    // A cancelled dialog does nothing.
    const auto shown = f.dialogs.messages.size();
    f.press(u">>"_s);
    f.press(u"<<"_s);
    QCOMPARE(std::pair(f.dialogs.messages.size(), display->toPlainText()),
             std::pair(shown, u"kept"_s));
  }

  void init() { f.reset(); }

 private:
  WindowFixture f;  // fresh for every test function (init)
};

VELLUMAR_UI_TEST(FilesWindowTest);

}  // namespace vellumar::ui::testing

#include "FilesWindowTest.moc"
