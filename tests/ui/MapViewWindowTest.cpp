// The map view from the window: "Вид" on each result kind, "Показать" in the identifier-values
// window, one view at a time, and the picture dialog.

#include <QFile>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <memory>
#include <tuple>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "grid/Grid.h"
#include "ui/ViewValues.h"
#include "ui/mapview/CRVWnd.h"

namespace vellumar::ui::testing {

using mapview::CRVWnd;
using mapview::MapLayout;
using mapview::WorldBounds;

class MapViewWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void numbersAndDataWithoutCoordinatesAreNotShown();
  void viewShowsTheCurrentResultAndReplacesTheOpenView();
  void namedOperandsAreLayersOfTheView();
};

namespace {

// The entries of a layer list, each its name after "+" when checked or "-" when not.
QStringList entries(const QListWidget* list) {
  QStringList shown;
  for (int row = 0; row < list->count(); ++row) {
    const QListWidgetItem* item = list->item(row);
    shown << (item->checkState() == Qt::Checked ? "+" : "-") + item->text();
  }
  return shown;
}

}  // namespace

void MapViewWindowTest::numbersAndDataWithoutCoordinatesAreNotShown() {
  WindowFixture f;
  f.registry().findOrCreate("column").value =
      engine::Operand::data(std::make_shared<const data::DATA>(std::vector<double>{1, 2, 3}));
  const std::tuple<const char*, QString, UserDialogs::Icon> cases[] = {
      {"2+2", u"Результат - число - в текстовом поле"_s, UserDialogs::Icon::Information},
      {"column * 2", u"Не известны координаты данных!"_s, UserDialogs::Icon::Stop}};
  for (const auto& [display, message, icon] : cases) {
    f.evaluate(display);
    f.press(u"Вид"_s);
    QVERIFY(f.window->mapView() == nullptr);
    QCOMPARE(f.lastMessage(), message);
    QVERIFY(f.dialogs.messages.back().icon == icon);
  }
}

void MapViewWindowTest::viewShowsTheCurrentResultAndReplacesTheOpenView() {
  WindowFixture f;
  f.load(FileKind::Polygon, f.write("field.pol", squareFile(5)));
  f.evaluate("EG(0, 2, 0, 2, 1, 1) * 1000");
  std::weak_ptr<const grid::Grid> grid = f.window->currentResult().sharedGrid();
  QVERIFY(!grid.expired());
  f.press(u"Вид"_s);
  QPointer<CRVWnd> first = f.window->mapView();
  QVERIFY(first != nullptr && first->isVisible());
  // The view keeps its copy: a later result does not change what it shows.
  f.evaluate("EG(0, 8, 0, 8, 1, 1)");
  QCOMPARE(first->layout().world.xmax, 2.0);
  // A polygon result after a grid, in a new view: no legend, no grid value in the title.
  f.evaluate("P1");
  QVERIFY(f.window->currentResult().gridValue() == nullptr);
  f.press(u"Вид"_s);
  QTRY_VERIFY(first == nullptr);  // one view at a time
  CRVWnd* view = f.window->mapView();
  QVERIFY(view != nullptr);
  const WorldBounds& shown = view->layout().world;
  QVERIFY(shown.xmin < 0 && shown.xmax > 5 && shown.xmax < 6);
  QVERIFY(view->classes() == nullptr && view->legend().boxes.empty());
  const MapLayout& layout = view->layout();
  QVERIFY(layout.left + layout.width > 500 - 40);  // no room kept for a legend
  view->readOut(QPoint(layout.column(2.5), layout.row(2.5)));
  QVERIFY2(!view->windowTitle().contains(u"z="_s), qPrintable(view->windowTitle()));
  QVERIFY(!view->statusText().contains(u"z ="_s));
  // A number next: the grid's memory is given back.
  f.evaluate("1");
  delete view;
  QVERIFY(grid.expired());
}

void MapViewWindowTest::namedOperandsAreLayersOfTheView() {
  WindowFixture f;
  QSettings().setValue("Directory/LastOpenedDir", f.dir.path());
  f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
  f.load(FileKind::Polygon, f.write("field.pol", squareFile(5)));
  f.evaluate("G1 * 2");
  f.press(u"Вид"_s);
  CRVWnd* view = f.window->mapView();
  QVERIFY(view != nullptr);
  // Ctrl and a right click save a picture at the path chosen in the dialog, which starts in the
  // profile's folder (every view is given this dialog where it is made); a name without an
  // extension is saved as BMP.
  f.dialogs.files.push_back(f.path("picture"));
  QTest::mouseClick(view, Qt::RightButton, Qt::ControlModifier, QPoint(100, 100));
  QSettings().remove("Directory/LastOpenedDir");
  QCOMPARE(f.dialogs.fileDialogs.back().folder, f.dir.path());
  QVERIFY(f.dialogs.fileDialogs.back().filter.contains(u"*.svg"_s));
  QVERIFY(QFile::exists(f.path("picture.bmp")));  // its bytes are the view's own tests'
  QListWidget* list = view->layerList();
  QVERIFY(list != nullptr);
  QCOMPARE(entries(list), QStringList({"+результат", "-G1", "-P1"}));
  // The polygon checked: the view now spans both, the field over the doubled grid.
  list->item(2)->setCheckState(Qt::Checked);
  QVERIFY(view->layout().world.xmax >= 5 && view->classes() != nullptr);
  QCOMPARE(view->classes()->maximum(), 18.0);  // the doubled nodes 1 ... 9

  // Shown from the identifier list, a named operand is its own layer, checked, and the current
  // result stays the number of the last evaluation, which is no layer.
  f.evaluate("1");
  f.press(u"ID"_s);
  ViewValues* values = f.window->viewValues();
  values->selectLine(static_cast<int>(values->lines().indexOf(QRegularExpression("^P1:.*"))));
  QVERIFY(values->showEnabled());
  values->showSelected();
  QVERIFY(f.window->currentResult().isNumber());
  const WorldBounds& shown = f.window->mapView()->layout().world;
  QVERIFY(shown.xmin <= 0 && shown.xmax >= 5 && shown.ymin <= 0 && shown.ymax >= 5);
  QCOMPARE(entries(f.window->mapView()->layerList()), QStringList({"-G1", "+P1"}));
}

VELLUMAR_UI_TEST(MapViewWindowTest);

}  // namespace vellumar::ui::testing

#include "MapViewWindowTest.moc"
