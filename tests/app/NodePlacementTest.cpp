// The main window's help for placing nodes to the pixel: the dock of the nodes, the walk through
// the missed ones, the context menu of the raster, the overview, the recent files and the mark of
// unsaved changes.
#include "GridCalibrator.h"
#include "GridNodesDocks.h"
#include "MainFormTestUtils.h"
#include "MainForms.h"
#include "ModalAnswers.h"
#include "NodePropertiesForms.h"
#include "Options.h"
#include "OverviewDocks.h"
#include "QtPrinters.h"
#include "RasterTestUtils.h"
#include "RecentFiles.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// The user's settings of the files without the files earlier tests opened.
struct TNoRecentFiles {
  TNoRecentFiles() { UserSettings()->remove("Files"); }
};

// A sheet of 400 × 300 pixels at 100 dots per centimetre with crossing lines every 100 pixels from
// (50, 50), open in the main window with the calibrator's grid on them: 3 × 2 cells.
struct TSheet {
  TSheet() {
    TBmpLayout layout{400, 300, 8, GreyPalette(256)};
    layout.XPelsPerMeter = layout.YPelsPerMeter = 10000;
    layout.Pixel = [](int x, int y) { return x % 100 == 50 || y % 100 == 50 ? 0u : 230u; };
    Scan = Dir.filePath("sheet.bmp");
    WriteFile(Scan, BmpBytes(layout));
    Form.resize(1000, 700);
    Form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Form));
    Form.OpenRaster(Scan);
    QCoreApplication::processEvents();
    TGridInfo grid;
    grid.SetSize(4, 3);
    grid.SetOrigin({50, 50});
    grid.SetStep({100, 100});
    Calibrator().ReplaceGrid(grid);
  }
  ~TSheet() {
    // Whatever the test left changed is given up.
    QTimer giveUp;
    QObject::connect(&giveUp, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        box->button(box->text().contains("сетке") ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    giveUp.start(5);
    Form.Before = nullptr;
    Form.CloseRaster(true, false);
  }
  TGridCalibrator& Calibrator() const { return *Form.Calibrator(); }
  QTableView& Table() const { return Form.NodesDock()->Table(); }
  // What the table shows in a row of its present order.
  QString Cell(int row, TGridNodesModel::TColumn column) const {
    return Table().model()->index(row, column).data().toString();
  }
  int RowOfNode(int i, int j) const {
    for (int row = 0; row < Table().model()->rowCount(); ++row)
      if (Cell(row, TGridNodesModel::cI) == QString::number(i) &&
          Cell(row, TGridNodesModel::cJ) == QString::number(j))
        return row;
    return -1;
  }
  double PixelsPerUnit() const {
    return Form.Navigator()->GetScale() * Form.EditWindow()->Device().BaseScaleX() /
           Form.EditWindow()->devicePixelRatioF();
  }

  QTemporaryDir Dir;
  QString Scan;
  TNoRecentFiles Fresh;
  TWatchedForm Form;
};

QAction* Action(const TMainForm& form, const char* name) {
  return Control<QAction>(&form, name);
}

QStringList MenuTexts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  return texts;
}

}  // namespace

TEST(NodePlacement, TheDockListsTheNodesAndTakesTheirPlacesTyped) {
  TSheet s;
  TGridCalibrator& c = s.Calibrator();
  QAbstractItemModel& table = *s.Table().model();
  ASSERT_EQ(table.rowCount(), 12);
  const int row = s.RowOfNode(1, 1);
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cRefX), "150");
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cRefY), "150");
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cState), "на эталоне");

  // A place typed moves the node as a step that can be undone.
  EXPECT_TRUE(table.setData(table.index(row, TGridNodesModel::cX), 153));
  EXPECT_TRUE(table.setData(table.index(row, TGridNodesModel::cY), 146));
  EXPECT_FALSE(table.setData(table.index(row, TGridNodesModel::cY), "сто"));
  EXPECT_EQ(c.Grid().NodePos(1, 1), (TPoint{153, 146}));
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cX), "153");
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cOffset), QLocale().toString(5.0, 'f', 1));
  EXPECT_EQ(s.Cell(row, TGridNodesModel::cState), "вручную");
  c.Undo();
  EXPECT_EQ(c.Grid().NodePos(1, 1), (TPoint{153, 150}));
  EXPECT_FALSE(table.flags(table.index(row, TGridNodesModel::cRefX)) & Qt::ItemIsEditable);

  // Past its neighbour, the node folds its cells: their corners say so and sort first.
  table.setData(table.index(row, TGridNodesModel::cX), 270);
  EXPECT_EQ(s.Cell(s.RowOfNode(2, 0), TGridNodesModel::cState), "ячейка перекручена");
  EXPECT_EQ(s.Cell(s.RowOfNode(0, 0), TGridNodesModel::cState), "на эталоне");
  s.Table().sortByColumn(TGridNodesModel::cState, Qt::AscendingOrder);
  EXPECT_EQ(s.Cell(0, TGridNodesModel::cState), "ячейка перекручена");
  s.Table().sortByColumn(TGridNodesModel::cOffset, Qt::DescendingOrder);
  EXPECT_EQ(s.Cell(0, TGridNodesModel::cI), "1");
  EXPECT_EQ(s.Cell(0, TGridNodesModel::cJ), "1");
  c.Undo();

  // What the search found, and how sure it was.
  c.FindNodes();
  EXPECT_TRUE(s.Cell(s.RowOfNode(2, 1), TGridNodesModel::cState).startsWith("найден, "));

  // The row of the node selected in the view follows it; a row chosen selects its node, and a
  // double click shows the node at a working zoom.
  c.Select(TPoint{3, 2});
  EXPECT_EQ(s.Table().currentIndex().row(), s.RowOfNode(3, 2));
  s.Table().setCurrentIndex(table.index(s.RowOfNode(0, 1), 0));
  EXPECT_EQ(c.Selected(), TPoint(0, 1));
  emit s.Table().doubleClicked(table.index(s.RowOfNode(2, 2), TGridNodesModel::cState));
  EXPECT_EQ(c.Selected(), TPoint(2, 2));
  EXPECT_GE(s.PixelsPerUnit(), TGridCalibrator::kWorkingZoom - 1e-9);
  const TWorldPoint centre = s.Form.Navigator()->GetCentre();
  EXPECT_NEAR(centre.X, 250.5, 1);
  EXPECT_NEAR(centre.Y, 250.5, 1);
}

TEST(NodePlacement, NWalksTheMissedNodesAndTheCommandWaitsForSome) {
  TSheet s;
  TGridCalibrator& c = s.Calibrator();
  EXPECT_FALSE(Action(s.Form, "NextMissedNodeMenu")->isEnabled());
  // A column beyond the sheet's lines: its nodes have nothing to be found on.
  TGridInfo wider = c.Grid();
  wider.SetSize(5, 3);
  c.ReplaceGrid(wider);
  c.FindNodes();
  ASSERT_EQ(c.MissedNodes().size(), 3u);
  EXPECT_TRUE(Action(s.Form, "NextMissedNodeMenu")->isEnabled());
  EXPECT_EQ(s.Cell(s.RowOfNode(4, 1), TGridNodesModel::cState), "не найден");
  QTest::keyClick(s.Form.EditWindow(), Qt::Key_N);
  EXPECT_EQ(c.Selected(), TPoint(4, 0));
  EXPECT_GE(s.PixelsPerUnit(), TGridCalibrator::kWorkingZoom - 1e-9);
  s.Form.NextMissedNodeMenuClick();
  EXPECT_EQ(c.Selected(), TPoint(4, 1));
  s.Form.NextMissedNodeMenuClick();
  s.Form.NextMissedNodeMenuClick();
  EXPECT_EQ(c.Selected(), TPoint(4, 0));
  // Placed by hand, a node is missed no longer.
  c.PlaceNode(4, 0, TPoint{449, 50});
  c.PlaceNode(4, 1, TPoint{449, 150});
  c.PlaceNode(4, 2, TPoint{449, 250});
  EXPECT_FALSE(Action(s.Form, "NextMissedNodeMenu")->isEnabled());
}

TEST(NodePlacement, TheRastersMenuOffersTheViewAndTheNodeUnderThePointer) {
  TSheet s;
  TEditWindow& window = *s.Form.EditWindow();
  TGridCalibrator& c = s.Calibrator();
  c.PlaceNode(1, 1, TPoint{155, 150});
  // The menu opens and closes at once: its items stay to be looked at and chosen.
  QObject::connect(&window.InternalPopup(), &QMenu::aboutToShow,
                   [&] { QTimer::singleShot(0, &window.InternalPopup(), &QMenu::close); });
  const auto menuAt = [&](TPoint node) {
    const TPoint p = TNodePlaces(window.Device()).Device(node);
    const qreal ratio = window.devicePixelRatioF();
    const QPoint logical(qRound(p.X / ratio), qRound(p.Y / ratio));
    QTest::mouseMove(&window, logical);
    QTest::mouseClick(&window, Qt::RightButton, {}, logical);
    QCoreApplication::processEvents();
    return MenuTexts(&window.InternalPopup());
  };
  const QStringList onNode = menuAt({155, 150});
  EXPECT_EQ(onNode,
            (QStringList{"Свойства узла...", "Вернуть узел на место", "Уве&личить масштаб\tCtrl++",
                         "Уме&ньшить масштаб\tCtrl+-", "Масштаб &1:1\tCtrl+1",
                         "Вписать &все\tCtrl+0", "Пр&едыдущий масштаб", "&Найти узлы\tCtrl+F",
                         "Сле&дующий ненайденный узел\tN", "Предыдущий масштаб\tBackspace"}));
  const auto item = [&](const QString& text) -> QAction* {
    for (QAction* action : window.InternalPopup().actions())
      if (action->text() == text) return action;
    return nullptr;
  };
  EXPECT_TRUE(item("Вернуть узел на место")->isEnabled());
  EXPECT_FALSE(item("Пр&едыдущий масштаб")->isEnabled());
  // Chosen, an item runs once the menu has closed.
  item("Вернуть узел на место")->trigger();
  QCoreApplication::processEvents();
  EXPECT_FALSE(c.Grid().NodeAt(1, 1).IsMoved());

  // The properties show the node and take its place.
  WhenModal<TNodePropertiesForm>([](TNodePropertiesForm* form) {
    form->XEdit->setValue(148);
    form->YEdit->setValue(153);
    form->accept();
  });
  menuAt({150, 150});
  EXPECT_FALSE(item("Вернуть узел на место")->isEnabled());
  item("Свойства узла...")->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(c.Grid().NodePos(1, 1), (TPoint{148, 153}));
  c.Undo();
  EXPECT_FALSE(c.Grid().NodeAt(1, 1).IsMoved());

  // Away from any node, the node's items are there but cannot be chosen.
  menuAt({100, 100});
  EXPECT_FALSE(item("Свойства узла...")->isEnabled());
}

TEST(NodePlacement, TheOverviewShowsTheViewAndTakesItWhereItIsDragged) {
  TSheet s;
  TOverview& overview = s.Form.OverviewDock()->Overview();
  TMatrixProjectionNavigator& navigator = *s.Form.Navigator();
  navigator.SetView(
      {100, 100}, false,
      4 * s.Form.EditWindow()->devicePixelRatioF() / s.Form.EditWindow()->Device().BaseScaleX());
  QCoreApplication::processEvents();
  const QRectF shown = overview.ViewRect();
  const qreal ratio = overview.devicePixelRatioF();
  EXPECT_TRUE(QRectF(overview.Picture().rect()).contains(shown.center()));
  // Taken by its middle and dragged to the sheet's other corner.
  const int histories = navigator.History().Count();
  const QPoint from = (shown.center() / ratio).toPoint();
  const QRectF picture(QPointF(), QSizeF(overview.Picture().size()) / ratio);
  const QPoint to(qRound(picture.width() * 0.75), qRound(picture.height() * 0.7));
  QTest::mousePress(&overview, Qt::LeftButton, {}, from);
  QTest::mouseMove(&overview, (from + to) / 2);
  QTest::mouseMove(&overview, to);
  QTest::mouseRelease(&overview, Qt::LeftButton, {}, to);
  EXPECT_GT(navigator.GetCentre().X, 250);
  EXPECT_GT(navigator.GetCentre().Y, 180);
  EXPECT_EQ(navigator.History().Count(), histories + 1);
  EXPECT_NEAR(overview.ViewRect().center().x() / ratio, to.x(), 2);
}

TEST(NodePlacement, RecentFilesAndTheLastFolderOutliveTheProgram) {
  TSheet s;
  const QString second = s.Dir.filePath("second & last.bmp");
  QFile::copy(s.Scan, second);
  WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  s.Form.OpenRaster(second);
  QMenu* file = s.Form.menuBar()->findChild<QMenu*>("FileMenu");
  ASSERT_TRUE(file);
  const QStringList texts = MenuTexts(file);
  const auto recent = [](const QStringList& all) {
    QStringList files;
    for (const QString& text : all)
      if (text.size() > 1 && text[0] == '&' && text[1].isDigit()) files << text;
    return files;
  };
  EXPECT_EQ(recent(texts), (QStringList{"&1 second && last.bmp", "&2 sheet.bmp"}));
  EXPECT_EQ(texts.last(), "В&ыход");
  {
    TMainForm again;
    EXPECT_EQ(again.RecentFiles()->Files(), (QStringList{second, s.Scan}));
    EXPECT_EQ(QFileInfo(again.OpenFileProposal()).absolutePath(), s.Dir.path());
    // A file gone since leaves the list with a word why.
    QFile::remove(second);
    QString message;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      message = box->text();
      box->accept();
    });
    again.findChildren<QAction*>("RecentFileMenu").front()->trigger();
    EXPECT_TRUE(message.contains("не найден")) << message.toStdString();
    EXPECT_EQ(again.RecentFiles()->Files(), QStringList{s.Scan});
  }
  // No more than eight.
  for (int k = 0; k < 10; ++k) s.Form.RecentFiles()->Add(s.Dir.filePath(QString("r%1.bmp").arg(k)));
  EXPECT_EQ(s.Form.RecentFiles()->Files().size(), TRecentFiles::kCount);
  EXPECT_EQ(s.Form.RecentFiles()->Files().front(), s.Dir.filePath("r9.bmp"));
}

TEST(NodePlacement, TheCaptionMarksUnsavedChangesAndTheFrameClipKeepsTheGrid) {
  TSheet s;
  EXPECT_FALSE(s.Form.windowTitle().endsWith("*"));
  TGridCalibrator& c = s.Calibrator();
  c.PlaceNode(1, 1, TPoint{152, 148});
  s.Form.ClipFrameMenuClick();
  EXPECT_TRUE(s.Form.windowTitle().endsWith(" - " + s.Scan + "*"));
  EXPECT_EQ(s.Form.Raster()->Width(), 301);
  EXPECT_EQ(s.Form.Raster()->Height(), 201);
  EXPECT_EQ(c.Grid().NodePos(1, 1), (TPoint{102, 98}));
  // The view keeps to the clipped raster.
  EXPECT_EQ(s.Form.Navigator()->Limits()->Right, 301);
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectFile(s.Dir.filePath("clipped.bmp"));
    static_cast<QDialog*>(dialog)->accept();
  });
  s.Form.SaveMenuClick();
  EXPECT_FALSE(s.Form.windowTitle().endsWith("*"));
}

TEST(NodePlacement, WhileWorkRunsTheNodesTheRecentFilesAndTheOverviewWait) {
  TSheet s;
  TGridCalibrator& c = s.Calibrator();
  TGridInfo wider = c.Grid();
  wider.SetSize(5, 3);
  c.ReplaceGrid(wider);
  c.FindNodes();
  ASSERT_FALSE(c.MissedNodes().empty());
  QAbstractItemModel& table = *s.Table().model();
  TOverview& overview = s.Form.OverviewDock()->Overview();
  const QImage picture = overview.Picture();
  std::atomic<bool> go{false};
  s.Form.Before = [&] {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  bool looked = false;
  QTimer::singleShot(0, [&] {
    for (const char* name : {"ClipFrameMenu", "NextMissedNodeMenu"})
      EXPECT_FALSE(Action(s.Form, name)->isEnabled()) << name;
    EXPECT_FALSE(s.Table().isEnabled());
    const QList<QAction*> recent = s.Form.findChildren<QAction*>("RecentFileMenu");
    EXPECT_FALSE(recent.isEmpty());
    for (const QAction* item : recent) EXPECT_FALSE(item->isEnabled());
    // Whatever reaches the calibrator meanwhile leaves the grid as the work found it.
    const TGridInfo grid = c.Grid();
    c.PlaceNode(1, 1, TPoint{160, 160});
    table.setData(table.index(s.RowOfNode(2, 1), TGridNodesModel::cX), 240);
    s.Form.NextMissedNodeMenuClick();
    s.Form.ClipFrameMenuClick();
    EXPECT_EQ(c.Grid(), grid);
    EXPECT_EQ(c.Selected(), std::nullopt);
    // The overview reads no pixel of the raster the work holds: resized, it keeps its picture.
    overview.resize(overview.width() + 30, overview.height() + 20);
    EXPECT_EQ(overview.Picture(), picture);
    looked = true;
    go = true;
  });
  s.Form.CalibrateBeginBtnClick();
  EXPECT_TRUE(looked);
  EXPECT_EQ(s.Form.Works.back(), "калибровку");
  EXPECT_TRUE(s.Table().isEnabled());
  for (const QAction* item : s.Form.findChildren<QAction*>("RecentFileMenu"))
    EXPECT_TRUE(item->isEnabled());
  // Free again, the overview shows the calibrated raster at its size.
  EXPECT_EQ(overview.Picture().size(), overview.size() * overview.devicePixelRatioF());
}
