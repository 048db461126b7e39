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

// A virtual raster of two bands over dem.asc: band 1 as it is, band 2 ten times its values.
QString writeTwoBandRaster(WindowFixture& f) {
  const std::string band =
      "<VRTRasterBand dataType=\"Float64\" band=\"%d\"><NoDataValue>-9999</NoDataValue>"
      "<ComplexSource><SourceFilename relativeToVRT=\"1\">dem.asc</SourceFilename>"
      "<SourceBand>1</SourceBand><ScaleRatio>%d</ScaleRatio><NODATA>-9999</NODATA>"
      "</ComplexSource></VRTRasterBand>";
  return f.write("bands.vrt",
                 "<VRTDataset rasterXSize=\"3\" rasterYSize=\"3\">"
                 "<GeoTransform>500000, 100, 0, 5500300, 0, -100</GeoTransform>" +
                     cformat(band.c_str(), 1, 1) + cformat(band.c_str(), 2, 10) + "</VRTDataset>");
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
  f.load(engine::FileKind::Grid, f.write("bad.grd", "DSAA\n2 2\nnonsense\n"));
  QCOMPARE(f.dialogs.lastMessage(),
           "Недопустимый формат файла гридa!, строка 3\n" + f.path("bad.grd"));
  f.load(engine::FileKind::Polygon, f.path("none.pol"));
  QCOMPARE(f.dialogs.lastMessage(), "Нельзя открыть файл " + f.path("none.pol") + " !");
  QCOMPARE(f.window->fileListWindow(engine::FileKind::Grid), nullptr);
  QCOMPARE(f.window->fileListWindow(engine::FileKind::Polygon), nullptr);
  QVERIFY(f.window->calculator().registry().find("G1") == nullptr);
  f.loadData(f.path("none.dat"));
  QCOMPARE(f.dialogs.lastMessage(), "Нельзя открыть файл " + f.path("none.dat") + " !");

  // Loaded grids are listed, numbered from G1.
  const QString first = f.write("a.grd", gridFile());
  const QString second = f.write("b.grd", gridFile());
  f.load(engine::FileKind::Grid, first);
  QCOMPARE(f.dialogs.fileDialogs.back().filter,
           QStringLiteral("Гриды (*.grd *.tif *.tiff *.asc *.nc *.img *.vrt);;Все файлы (*.*)"));
  f.load(engine::FileKind::Grid, second);
  FileListWindow* list = f.window->fileListWindow(engine::FileKind::Grid);
  QVERIFY(list != nullptr);
  QCOMPARE(list->entries(), QStringList({"G1   " + first, "G2   " + second}));

  f.load(engine::FileKind::Grid, first);
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Такой файл уже загружен!"));
  QCOMPARE(f.dialogs.messages.back().icon, UserDialogs::Icon::Stop);
  QCOMPARE(list->entries().size(), 2);

  // Clicking an entry inserts its name; closing the list restarts the numbering.
  f.window->display()->clear();
  list->chooseEntry(1);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("G2"));
  list->close();
  QTRY_VERIFY(f.window->fileListWindow(engine::FileKind::Grid) == nullptr);
  f.load(engine::FileKind::Grid, second);
  list = f.window->fileListWindow(engine::FileKind::Grid);
  QVERIFY(list != nullptr);
  QCOMPARE(list->entries(), QStringList({"G1   " + second}));
  QCOMPARE(f.window->calculator().registry().find("G1")->value.sourcePath(), second.toStdString());
  QVERIFY(f.window->calculator().registry().find("G2") != nullptr);  // registered operands stay

  // A cancelled dialog changes nothing.
  f.press(QStringLiteral("Гриды"));
  QCOMPARE(list->entries().size(), 1);
}

void FilesWindowTest::dataFormatDialogRemembersChoices() {
  WindowFixture f;
  QCOMPARE(choicesOf(f.window->dataFormat()), choicesOf({0, true, false, " "}));

  std::vector<DataFormat> seen;
  QString preview;
  QString caption;
  auto answer = [&](DataFormat chosen, bool accept) {
    f.dialogs.onDialog = [&, chosen, accept](QDialog& dialog) {
      auto& format = dynamic_cast<DataFileProc&>(dialog);
      seen.push_back(format.format());
      preview = format.preview();
      caption = format.fileCaption();
      format.setFormat(chosen);
      return accept;
    };
  };
  const std::string longLine(300, '7');
  // The comma choice reads quoted fields: "w1, east" is one cell.
  answer({3, false, true, " "}, true);
  f.loadData(
      f.write("table.csv", "name,depth\r\n\"w1, east\",10\r\nw2," + longLine + "\r\nw3,30\r\n"));
  QCOMPARE(preview, QString("name,depth\n\"w1, east\",10\nw2," + QString(247, '7')));
  QCOMPARE(caption, QStringLiteral("Имя файла:  .../table.csv"));
  QCOMPARE(f.window->dataWindow(1)->entries(), QStringList({"D1_1      name", "D1_2      depth"}));

  // The next load starts from the choices of the last one; a cancel keeps them.
  answer({4, true, false, ""}, false);
  f.loadData(f.write("other.dat", dataFile()));
  QCOMPARE(choicesOf(seen.back()), choicesOf({3, false, true, " "}));
  QCOMPARE(choicesOf(f.window->dataFormat()), choicesOf({3, false, true, " "}));
  QCOMPARE(f.window->workspace().dataSlotCount(), 1);

  // Any character with nothing typed is refused.
  answer({4, true, false, ""}, true);
  f.loadData(f.path("other.dat"));
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Недопустимый разделитель!"));

  answer({4, true, false, ";"}, true);
  f.loadData(f.path("other.dat"));
  QCOMPARE(f.window->dataWindow(2)->entries().size(), 1);  // "X Y Z" is one field with ';'
  f.loadData(f.path("other.dat"));
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Такой файл уже загружен!"));
  f.loadData(f.write("third.dat", "1\n"));
  QCOMPARE(choicesOf(seen.back()), choicesOf({4, true, false, ";"}));

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
  QCOMPARE(window->countsText(), QStringLiteral("Всего: строк  3,  столбцов  3"));

  f.window->display()->clear();
  window->chooseColumn(2);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("D1_3"));
  QCOMPARE(f.evaluate("Sum(D1_3)"), QStringLiteral("21.000000000000"));

  window->setCoordinateTexts(QStringLiteral("1"), QStringLiteral("1"));
  window->chooseColumn(2);
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Недопустимые столбцы координат X и Y!"));

  // A table of one row without coordinates gives a number; without a header, numbered entries.
  f.answerDataFormat({0, true, false, " "});
  f.loadData(f.write("one.dat", "4 8\n"));
  CDataListDialog* one = f.window->dataWindow(2);
  QCOMPARE(one->entries(), QStringList({"D2_1      1", "D2_2      2"}));
  one->setCoordinateTexts(QString(), QString());
  one->chooseColumn(1);
  QCOMPARE(f.evaluate("D2_2"), QStringLiteral("8.000000000000"));

  // Closing frees the slot: the next load reuses it and its window.
  window->close();
  QVERIFY(!window->isVisible());
  f.loadData(f.write("again.dat", "1\n2\n"));
  QCOMPARE(f.window->dataWindow(1), window);
  QCOMPARE(window->entries(), QStringList({"D1_1      1"}));
  QCOMPARE(window->countsText(), QStringLiteral("Всего: строк  2,  столбцов  1"));
}

void FilesWindowTest::savingByKind() {
  WindowFixture f;
  // A number is shown, never written.
  f.evaluate("2.5");
  f.press(QStringLiteral("Сохранить"));
  QVERIFY(f.dialogs.fileDialogs.empty());
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Результат - число - в текстовом поле"));
  QCOMPARE(f.dialogs.messages.back().icon, UserDialogs::Icon::Information);
  QCOMPARE(f.window->messageText(), QStringLiteral("2.500000000000"));

  // Saving over a loaded file writes it and re-registers the result under that file's name.
  const QString gridPath = f.write("relief.grd", gridFile());
  f.load(engine::FileKind::Grid, gridPath);
  f.evaluate("G1 + 100");
  f.save(gridPath);
  QCOMPARE(f.evaluate("MIN(G1)"), QStringLiteral("101.000000000000"));

  // A ring the file's twelve digits would collapse is left out, and the message line says so.
  f.load(engine::FileKind::Polygon,
         f.write("tiny.pol",
                 "1\r\n1000 1000\r\n1000.0000000001 1000\r\n1000 1000.0000000001\r\n"
                 "1000 1000\r\nEND\r\nEND\r\n"));
  f.evaluate("P1");
  f.save(f.path("tiny-copy.pol"));
  QCOMPARE(f.window->messageText(),
           QStringLiteral("не записаны кольца, схлопывающиеся при 12 значащих цифрах файла: 1"));
  QCOMPARE(f.read("tiny-copy.pol"), std::string("END\r\n"));

  f.load(engine::FileKind::Lines, f.write("edge.con", squareFile(4, 1)));
  f.evaluate("C1");
  f.save(f.path("no/such/dir/x.con"));
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Ошибка сохранения линий!"));
}

void FilesWindowTest::savingDataAppendsZres() {
  WindowFixture f;
  const QString wells = loadWellsWithHeader(f);
  CDataListDialog* window = f.window->dataWindow(1);
  window->chooseColumn(2);
  QCOMPARE(f.evaluate("D1_3 * 2"), QStringLiteral("Результат - данные - готов !"));
  // Declining leaves the file as it was.
  const std::string before = f.read("wells.dat");
  f.dialogs.answer = false;
  f.save(wells);
  QCOMPARE(f.dialogs.questions.back(), QStringLiteral("Добавить столбец Zres в wells.dat?"));
  QCOMPARE(f.dialogs.questionIcons.back(), UserDialogs::Icon::Question);
  QVERIFY(!f.dialogs.fileDialogs.back().confirmOverwrite);  // the window asks its own question
  QCOMPARE(f.read("wells.dat"), before);
  f.dialogs.answer = true;
  f.save(wells);
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(window->entries().back(), QStringLiteral("D1_4      Zres"));
  QCOMPARE(window->countsText(), QStringLiteral("Всего: строк  3,  столбцов  4"));
  window->chooseColumn(3);
  QCOMPARE(f.evaluate("Sum(D1_4)"), QStringLiteral("42.000000000000"));

  // A result of another length is refused and the file stays.
  const std::string appended = f.read("wells.dat");
  f.answerDataFormat({0, true, false, " "});
  f.loadData(f.write("two.dat", "1\n2\n"));
  f.window->dataWindow(2)->setCoordinateTexts(QString(), QString());
  f.window->dataWindow(2)->chooseColumn(0);
  QCOMPARE(f.evaluate("D2_1 + 1"), QStringLiteral("Результат - данные - готов !"));
  f.save(wells);
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Несовпадение размерности данных!"));
  QCOMPARE(f.read("wells.dat"), appended);

  // Another existing file is replaced only when the user agrees; a new one needs no question.
  f.evaluate("D1_3 * 2");
  f.write("old.dat", "1\n");
  f.dialogs.answer = false;
  f.save(f.path("old.dat"));
  QCOMPARE(f.dialogs.questions.back(),
           QStringLiteral("Файл old.dat уже существует. Заменить его?"));
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
  f.save(wells);
  QCOMPARE(f.dialogs.lastMessage(), "файл данных изменён после загрузки\n" + wells);
  QCOMPARE(f.read("wells.dat"), changed);
}

void FilesWindowTest::vectorFilesAskForTheLayerAndTheValueField() {
  WindowFixture f;
  // Lines saved as a shapefile load back with the value field chosen in the DBF dialog.
  f.load(engine::FileKind::Lines, f.write("edge.con", squareFile(4, 1)));
  QCOMPARE(f.evaluate("C1 + 5"), QStringLiteral("Результат - линии - готов !"));
  f.save(f.path("roads.shp"));
  f.save(f.path("roads.gpkg"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));

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
  f.load(engine::FileKind::Lines, f.path("roads.shp"));
  QCOMPARE(listed, QStringList({"Atribute", "ID", "NAME"}));
  QCOMPARE(chosen, std::string("Atribute"));
  QCOMPARE(f.evaluate("MAX(C2)"), QStringLiteral("5.000000000000"));
  // A cancelled field choice loads the lines without values.
  accept = false;
  for (const QString extension : {".shp", ".shx", ".dbf"})
    QFile::copy(f.path("roads" + extension), f.path("b" + extension));
  f.load(engine::FileKind::Lines, f.path("b.shp"));
  QCOMPARE(f.evaluate("MAX(C3)"), QStringLiteral("0.000000000000E+00"));

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
  f.load(engine::FileKind::Polygon, f.path("both.gpkg"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(f.dialogs.choices.back(),
           QStringLiteral("В файле both.gpkg слоёв: 2. Какой прочитать? districts/roads"));
  QCOMPARE(listed, QStringList({"name", "pop"}));
  const engine::Registry& registry = f.window->calculator().registry();
  QCOMPARE(registry.find("P1")->value.sourcePath(), both + ":districts");
  QCOMPARE(f.evaluate("MAX(P1)"), QStringLiteral("120.500000000000"));
  f.dialogs.chosenItem = 1;
  field = 0;
  f.load(engine::FileKind::Lines, f.path("both.gpkg"));
  QCOMPARE(listed, QStringList({"Atribute", "ID"}));
  QCOMPARE(f.evaluate("MAX(C4)"), QStringLiteral("5.000000000000"));
  // A cancelled layer choice loads nothing and says nothing.
  const std::size_t shown = f.dialogs.messages.size();
  f.dialogs.chosenItem = -1;
  f.load(engine::FileKind::Polygon, f.path("both.gpkg"));
  QCOMPARE(f.dialogs.messages.size(), shown);
  QVERIFY(registry.find("P2") == nullptr);

  // Shapefile and GeoJSON data need no format dialog and list their columns by name.
  loadWellsWithHeader(f);
  f.window->dataWindow(1)->chooseColumn(2);
  f.evaluate("D1_3 * 2");
  f.save(f.path("points.shp"));
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
  f.evaluate("D2_3 + 1");
  f.save(f.path("points.shp"));
  QCOMPARE(f.dialogs.lastMessage(),
           QStringLiteral("Не допускается сохранение в загруженном shp-файле!"));
  // A layer that cannot be read says why at once.
  f.load(engine::FileKind::Polygon, f.write("broken.geojson", "{\"type\": \"Feature"));
  QVERIFY2(f.dialogs.lastMessage().startsWith("Недопустимый формат файла полигонa!, файл " +
                                              f.path("broken.geojson") + "\n"),
           qPrintable(f.dialogs.lastMessage()));
  QVERIFY(!asked);
}

void FilesWindowTest::droppedFilesLoadByExtension() {
  WindowFixture f;
  // Closed lines saved as a shapefile, to be dropped later.
  f.load(engine::FileKind::Lines, f.write("edge.con", squareFile(4)));
  f.evaluate("C1 * 1");
  f.save(f.path("roads.shp"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));

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
  const engine::Registry& registry = f.window->calculator().registry();
  QTRY_VERIFY2(registry.find("P2") != nullptr, qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(registry.find("G1")->value.kind(), engine::Kind::Grid);
  QCOMPARE(registry.find("C2")->value.sourcePath(), f.path("rivers.lin").toStdString());
  QCOMPARE(registry.find("P1")->value.sourcePath(), f.path("field.pol").toStdString());
  QCOMPARE(registry.find("P2")->value.sourcePath(), f.path("roads.shp").toStdString());
  QCOMPARE(formatDialogs, 2);
  QVERIFY(f.window->dataWindow(1) != nullptr && f.window->dataWindow(2) != nullptr);
  QCOMPARE(f.dialogs.choices.back(),
           QStringLiteral("Загрузить roads.shp как: Линии/Полигоны/Данные"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));

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
  QTRY_COMPARE(f.dialogs.lastMessage(), QStringLiteral("Неизвестный тип файла: notes.doc"));
  QVERIFY(f.window->dataWindow(4) == nullptr);
  QVERIFY(!dropFiles(f.window.get(), {}));
}

void FilesWindowTest::dialogsStartInTheFolderLastUsed() {
  QSettings().clear();
  QTemporaryDir elsewhere;
  QString lastGridFolder;
  {
    WindowFixture f;
    QDir(f.dir.path()).mkdir(QStringLiteral("maps"));
    const QString grid = f.write("maps/relief.grd", gridFile());
    f.load(engine::FileKind::Grid, grid);
    f.load(engine::FileKind::Grid, f.write("other.grd", gridFile()));
    QCOMPARE(f.dialogs.fileDialogs.back().folder, QFileInfo(grid).absolutePath());
    // Each kind of file has its own folder.
    f.pressChoosing(QStringLiteral("Полигоны"), QDir(elsewhere.path()).filePath("x.pol"));
    f.press(QStringLiteral("Полигоны"));
    QCOMPARE(f.dialogs.fileDialogs.back().folder, elsewhere.path());
    // Saving a grid is the same kind as loading one.
    f.evaluate("G1");
    f.press(QStringLiteral("Сохранить"));
    QCOMPARE(f.dialogs.fileDialogs.back().folder, f.dir.path());
    lastGridFolder = f.dir.path();
  }
  // The next run starts where the last one ended.
  WindowFixture next;
  next.press(QStringLiteral("Гриды"));
  QCOMPARE(next.dialogs.fileDialogs.back().folder, lastGridFolder);
  next.press(QStringLiteral("Данные"));
  QVERIFY(next.dialogs.fileDialogs.back().folder.isEmpty());
}

void FilesWindowTest::rasterGridsByBandFormatAndCoordinateSystem() {
  WindowFixture f;
  f.load(engine::FileKind::Grid, writeAsciiRaster(f));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(f.evaluate("MAX(G1)"), QStringLiteral("9.000000000000"));

  // A file of several bands asks which; a cancel loads nothing.
  const QString bands = writeTwoBandRaster(f);
  f.load(engine::FileKind::Grid, bands);
  QCOMPARE(f.dialogs.choices.back(),
           QStringLiteral("В файле bands.vrt каналов: 2. Какой прочитать? 1…2"));
  QVERIFY(f.window->calculator().registry().find("G2") == nullptr);
  f.dialogs.chosenNumber = 2;
  f.load(engine::FileKind::Grid, bands);
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(f.evaluate("MAX(G2 - G1 * 10)"), QStringLiteral("0.000000000000E+00"));

  // Saved as GeoTIFF through the per-format filters, and loaded again by a drop as a grid.
  f.evaluate("G1 * 2");
  f.save(f.path("twice.tif"));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(f.dialogs.fileDialogs.back().filter,
           QStringLiteral("Файлы гридов (*.grd);;GeoTIFF (*.tif *.tiff);;ESRI ASCII (*.asc);;"
                          "netCDF (*.nc);;ERDAS Imagine (*.img);;Все файлы (*.*)"));
  QVERIFY(dropFiles(f.window.get(), {f.path("twice.tif")}));
  const engine::Registry& registry = f.window->calculator().registry();
  QTRY_VERIFY2(registry.find("G3") != nullptr, qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(registry.find("G3")->value.sourcePath(), f.path("twice.tif").toStdString());
}

void FilesWindowTest::evaluationByRecord() {
  WindowFixture f;
  // z = x + y over [0, 20]^2; two squares on it and one beside it.
  f.load(engine::FileKind::Grid, f.write("plane.grd", cli::testing::planeGridText()));
  f.write("d.val", "1 7\r\n2 8\r\n3 9\r\n");
  f.load(engine::FileKind::Polygon,
         f.write("d.pol",
                 "1\r\n0 0\r\n0 10\r\n10 10\r\n10 0\r\n0 0\r\nEND\r\n"
                 "2\r\n10 0\r\n10 10\r\n20 10\r\n20 0\r\n10 0\r\nEND\r\n"
                 "3\r\n40 40\r\n40 45\r\n45 45\r\n45 40\r\n40 40\r\nEND\r\nEND\r\n"));
  const QString layerMessage = f.evaluate("P1");
  f.window->button(QStringLiteral("По объектам"))->setChecked(true);
  // The layer with the records' means is the result; the record beside the map is listed.
  QCOMPARE(f.evaluate("Mean(G1, P1)"), layerMessage);
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Объекты, для которых вычисление не удалось:\n"
                                                   "3\tMean: в полигоне нет значений грида"));
  // P1 is the whole layer again, and without the control the text is evaluated once.
  f.window->button(QStringLiteral("По объектам"))->setChecked(false);
  QCOMPARE(f.evaluate("Area(P1)"), QStringLiteral("225.000000000000"));
}

VELLUMAR_UI_TEST(FilesWindowTest);

}  // namespace vellumar::ui::testing

#include "FilesWindowTest.moc"
