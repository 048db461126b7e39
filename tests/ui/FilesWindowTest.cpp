// Loading and saving operands from the window: the dialogs, the duplicate check, the list
// windows and their renumbering, the data-format dialog, the data windows and the DBF dialog.

#include <QAbstractButton>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <tuple>

#include "../cli/CalcRunner.h"
#include "../formats/VectorFixtures.h"
#include "UiTestSupport.h"
#include "UiTests.h"
#include "common/CFormat.h"
#include "ui/CDataListDialog.h"
#include "ui/CInputDbfDialog.h"
#include "ui/DataFileProc.h"
#include "ui/FileListWindow.h"

namespace vellumar::ui::testing {

class FilesWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void loadFailuresGridListsDuplicatesAndRenumbering();
  void dataFormatDialogRemembersChoices();
  void dataWindowColumnsAndCoordinates();
  void savingByKind();
  void savingDataAppendsZres();
  void vectorFilesAskForTheLayerAndTheValueField();
  void droppedFilesLoadByExtension();
  void dialogsStartInTheFolderLastUsed();
  void rasterGridsByBandFormatAndCoordinateSystem();
  void evaluationByRecord();
};

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

}  // namespace

void FilesWindowTest::loadFailuresGridListsDuplicatesAndRenumbering() {
  WindowFixture f;
  // The box names the file at fault after a message that does not name it already.
  QCOMPARE(f.load(FileKind::Grid, f.write("bad.grd", "DSAA\n2 2\nnonsense\n")),
           "Недопустимый формат файла гридa!, строка 3\n" + f.path("bad.grd"));
  QCOMPARE(f.load(FileKind::Polygon, f.path("none.pol")),
           "Нельзя открыть файл " + f.path("none.pol") + " !");
  QCOMPARE(f.window->fileListWindow(FileKind::Grid), nullptr);
  QCOMPARE(f.window->fileListWindow(FileKind::Polygon), nullptr);
  QVERIFY(f.registry().find("G1") == nullptr);
  QCOMPARE(f.loadData(f.path("none.dat")), "Нельзя открыть файл " + f.path("none.dat") + " !");

  // Loaded grids are listed, numbered from G1.
  const QString first = f.write("a.grd", gridFile());
  const QString second = f.write("b.grd", gridFile());
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

void FilesWindowTest::dataFormatDialogRemembersChoices() {
  WindowFixture f;
  QCOMPARE(choicesOf(f.window->dataFormat()), choicesOf({0, true, false, " "}));

  DataFormat seen;
  QString preview;
  QString caption;
  // Loads the file at path, answering the format dialog with chosen, accepted or not.
  auto loadAnswering = [&](DataFormat chosen, bool accept, const QString& path) {
    f.dialogs.onDialog = [&, chosen, accept](QDialog& dialog) {
      auto& format = dynamic_cast<DataFileProc&>(dialog);
      std::tie(seen, preview, caption) =
          std::tuple(format.format(), format.preview(), format.fileCaption());
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
  QCOMPARE(f.window->dataWindow(1)->entries(), QStringList({"D1_1      name", "D1_2      depth"}));

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

  DataFileProc dialog({4, true, false, "|"}, "x.dat", nullptr);
  QVERIFY(dialog.characterEditEnabled());
  dialog.setFormat({1, true, false, "|"});
  QVERIFY(!dialog.characterEditEnabled());
}

void FilesWindowTest::dataWindowColumnsAndCoordinates() {
  WindowFixture f;
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
  QVERIFY(!window->isVisible());
  f.loadData(f.write("again.dat", "1\n2\n"));
  QCOMPARE(f.window->dataWindow(1), window);
  QCOMPARE(window->entries(), QStringList({"D1_1      1"}));
  QCOMPARE(window->countsText(), u"Всего: строк  2,  столбцов  1"_s);
}

void FilesWindowTest::savingByKind() {
  WindowFixture f;
  // A number is shown, never written.
  f.evaluate("2.5");
  f.press(u"Сохранить"_s);
  QVERIFY(f.dialogs.fileDialogs.empty());
  QCOMPARE(std::tuple(f.lastMessage(), f.dialogs.messages.back().icon, f.window->messageText()),
           std::tuple(u"Результат - число - в текстовом поле"_s, UserDialogs::Icon::Information,
                      u"2.500000000000"_s));

  // Saving over a loaded file writes it and re-registers the result under that file's name.
  const QString gridPath = f.write("relief.grd", gridFile());
  f.load(FileKind::Grid, gridPath);
  f.evaluate("G1 + 100");
  f.save(gridPath);
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
}

void FilesWindowTest::savingDataAppendsZres() {
  WindowFixture f;
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
  QCOMPARE(f.dialogs.questions.size(), asked);
  QVERIFY(f.read("new.dat") != "<missing>");
  // A loaded file another program changed is refused, and the message says which file.
  const std::string changed = appended + "9 9 9 9\n";
  f.write("wells.dat", changed);
  QCOMPARE(f.save(wells), "файл данных изменён после загрузки\n" + wells);
  QCOMPARE(f.read("wells.dat"), changed);
}

void FilesWindowTest::vectorFilesAskForTheLayerAndTheValueField() {
  WindowFixture f;
  // Lines saved as a shapefile load back with the value field chosen in the DBF dialog.
  f.load(FileKind::Lines, f.write("edge.con", squareFile(4, 1)));
  QCOMPARE(f.evaluate("C1 + 5"), u"Результат - линии - готов !"_s);
  f.save(f.path("roads.shp"));
  f.save(f.path("roads.gpkg"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));

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
  // A cancelled field choice loads the lines without values.
  accept = false;
  for (const QString extension : {".shp", ".shx", ".dbf"})
    QFile::copy(f.path("roads" + extension), f.path("b" + extension));
  f.load(FileKind::Lines, f.path("b.shp"));
  QCOMPARE(f.evaluate("MAX(C3)"), u"0.000000000000E+00"_s);

  // The GeoPackage's lines become the second layer of a file of districts.
  accept = true;
  const QString districts = f.write("districts.geojson", R"({"type": "FeatureCollection",
"features": [{"type": "Feature", "properties": {"name": "Nord", "pop": 120.5},
 "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]],
 [[2, 2], [2, 4], [4, 4], [4, 2], [2, 2]]]}}]})");
  const std::string both = f.path("both.gpkg").toStdString();
  QVERIFY(formats::testing::translateVector(districts.toStdString(), both, "GPKG", "districts"));
  QVERIFY(formats::testing::translateVector(f.path("roads.gpkg").toStdString(), both, "GPKG",
                                            "roads", true));
  // The layer is chosen from a list, then its value field from the layer's fields.
  field = 1;
  f.dialogs.chosenItem = 0;
  f.load(FileKind::Polygon, f.path("both.gpkg"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
  QCOMPARE(f.dialogs.choices.back(),
           u"В файле both.gpkg слоёв: 2. Какой прочитать? districts/roads"_s);
  QCOMPARE(listed, QStringList({"name", "pop"}));
  QCOMPARE(f.sourceOf("P1"), f.path("both.gpkg:districts"));
  QCOMPARE(f.evaluate("MAX(P1)"), u"120.500000000000"_s);
  f.dialogs.chosenItem = 1;
  field = 0;
  f.load(FileKind::Lines, f.path("both.gpkg"));
  QCOMPARE(listed, QStringList({"Atribute", "ID"}));
  QCOMPARE(f.evaluate("MAX(C4)"), u"5.000000000000"_s);
  // A cancelled layer choice loads nothing and says nothing.
  const std::size_t shown = f.dialogs.messages.size();
  f.dialogs.chosenItem = -1;
  f.load(FileKind::Polygon, f.path("both.gpkg"));
  QCOMPARE(f.dialogs.messages.size(), shown);
  QVERIFY(f.registry().find("P2") == nullptr);

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

void FilesWindowTest::droppedFilesLoadByExtension() {
  WindowFixture f;
  // Closed lines saved as a shapefile, to be dropped later.
  f.load(FileKind::Lines, f.write("edge.con", squareFile(4)));
  f.evaluateAndSave("C1 * 1", "roads.shp");
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));

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
  QCOMPARE(formatDialogs, 2);
  QVERIFY(f.window->dataWindow(1) != nullptr && f.window->dataWindow(2) != nullptr);
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
  QCOMPARE(std::pair(vertices.x()[1], vertices.y()[1]), std::pair(0.0, 4.0));  // the second vertex

  // A cancelled choice loads nothing; an unknown kind of file is named in a message.
  f.dialogs.chosen = -1;
  QVERIFY(dropFiles(f.window.get(), {f.path("roads.shp"), f.write("notes.doc", "x")}));
  QTRY_COMPARE(f.lastMessage(), u"Неизвестный тип файла: notes.doc"_s);
  QVERIFY(f.window->dataWindow(4) == nullptr);
  QVERIFY(!dropFiles(f.window.get(), {}));
}

void FilesWindowTest::dialogsStartInTheFolderLastUsed() {
  QSettings().clear();
  QTemporaryDir elsewhere;
  QString lastGridFolder;
  {
    WindowFixture f;
    QDir(f.dir.path()).mkdir(u"maps"_s);
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
    QCOMPARE(f.dialogs.fileDialogs.back().folder, f.dir.path());
    lastGridFolder = f.dir.path();
  }
  // The next run starts where the last one ended.
  WindowFixture next;
  next.press(u"Гриды"_s);
  QCOMPARE(next.dialogs.fileDialogs.back().folder, lastGridFolder);
  next.press(u"Данные"_s);
  QVERIFY(next.dialogs.fileDialogs.back().folder.isEmpty());
}

void FilesWindowTest::rasterGridsByBandFormatAndCoordinateSystem() {
  WindowFixture f;
  f.load(FileKind::Grid, writeAsciiRaster(f));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
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
  f.dialogs.chosenNumber = 2;
  f.load(FileKind::Grid, bands);
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
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

void FilesWindowTest::evaluationByRecord() {
  WindowFixture f;
  // z = x + y over [0, 20]^2; two squares on it and one beside it.
  f.load(FileKind::Grid, f.write("plane.grd", cli::testing::planeGridText()));
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

VELLUMAR_UI_TEST(FilesWindowTest);

}  // namespace vellumar::ui::testing

#include "FilesWindowTest.moc"
